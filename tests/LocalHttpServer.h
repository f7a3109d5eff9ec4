#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

namespace velmar::test {

// A tiny HTTP/1.1 server on 127.0.0.1 for the tests: fixed replies by path, every request
// recorded. It lives on the thread that made it and answers while that thread runs events.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        bool cutShort = false;  // announce more than the body, send the body, then hang up
    };
    struct Request {
        QString path;
        QHash<QByteArray, QByteArray> headers;  // names in lower case
    };

    LocalHttpServer();

    QString url(const QString &path) const;  // http://127.0.0.1:<port><path>
    void setReply(const QString &path, const Reply &reply);
    QList<Request> requests() const { return m_requests; }
    QStringList requestedPaths() const;

    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort();

private:
    void answer(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QString, Reply> m_replies;
    QList<Request> m_requests;
};

}  // namespace velmar::test
