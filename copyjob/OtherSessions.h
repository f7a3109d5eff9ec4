#pragma once

#include "CopyContext.h"

#include <QString>

#include <vector>

namespace velmar {

// A connection to the local server other than the copy's own.
struct OtherSession {
    qint64 id = 0;
    QString user;
    QString host;
    QString command;  // Sleep, Query, ...
    qint64 seconds = 0;
    QString statement;  // what it runs, when anything
};

// The connections that use database: those whose default database it is, and those holding
// metadata locks on its tables where the server shows them (performance_schema on MySQL 8,
// information_schema.METADATA_LOCK_INFO on MariaDB). Asked on the open shared connection,
// quietly: a server that offers no lock table is asked about its process list only.
std::vector<OtherSession> otherSessions(const QString &database);

// "연결 12 (app@localhost, Sleep 35초)" and the statement it runs, one line each.
QString describeSessions(const std::vector<OtherSession> &sessions);

// Until no other connection uses the user's database: the user chooses to wait for them (the
// wait ends within a second of a cancel), to end them (KILL), or to stop the copy. true when
// none is left; false when the copy stops (why is told or in stopReason).
bool clearOtherSessions(CopyContext &ctx, const QString &database, QString &stopReason);

}  // namespace velmar
