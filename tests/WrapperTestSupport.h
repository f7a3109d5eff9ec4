#pragma once

#include "RaisedError.h"
#include "TestServer.h"

#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace velmar::test {

// Runs f and returns the RaisedError it raised; Number -1 when it raised none.
inline RaisedError raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RaisedError &e) {
        return e;
    }
    return RaisedError(-1, QString(), QString());
}

// Whether the test server still runs the connection thread with this id.
inline bool threadExists(qint32 id)
{
    return TestServer::value(QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = ")
                             + QString::number(id))
           != QStringLiteral("0");
}

// The server ends a closed or killed connection on its own time; false if it has not within 10 s.
inline bool waitUntilGone(qint32 id)
{
    QDeadlineTimer deadline(10000);
    while (threadExists(id)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

}  // namespace velmar::test
