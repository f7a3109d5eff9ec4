#pragma once

#include "CopyContext.h"

#include <QString>

#include <optional>

namespace velmar {

// What the stages do on the local server beside their own work: make, drop and discard the
// copy's databases, look at the room in the server's data folder, and run the client program.
// Like the stages they return false to stop the copy once the user has been told why (the
// shared connection's helpers show a refused statement themselves) and raise anything else.

// CREATE DATABASE IF NOT EXISTS with the source's character set and collation, when known.
bool createDatabase(CopyContext &ctx, const QString &database);
// Drops the user's database of the new name (connecting for it).
bool dropTarget(CopyContext &ctx);
// The same on the open shared connection (its lock waits bounded), once no other connection
// uses it (see clearOtherSessions); a cancel that comes before a try has begun drops nothing. A
// database that is still there stops the copy. From the first try on the change has begun (see
// CopyContext::beginChanging): the caller ends it.
bool dropOpenTarget(CopyContext &ctx);
// Drops the staging database of a load that did not finish, and logs it: beside the user's
// database when replacing, else in place of a new one.
void discardLoad(CopyContext &ctx, const QString &database, bool replacing);
// Drops the staging database a crashed copy of this target left (shared connection open).
bool removeLeftoverStaging(CopyContext &ctx);

// The local server's data folder and its free bytes; free stays empty when the folder is not on
// this machine or cannot be looked at.
struct DataFolderRoom {
    QString folder;
    std::optional<qint64> free;
};
bool localRoom(CopyContext &ctx, DataFolderRoom &room);

// The shared connection's statements wait at most a second for another connection's lock.
void boundLockWaits();
// Runs a statement that may wait for a lock: 0 when it ran, kLockWaitTimeout when the lock did
// not come (for the caller to look around and try again), -1 after any other failure (shown).
qint32 tryStatement(const QString &statement);

// Logs a statement and runs it on the shared connection.
qint32 ExecSQLLog(const QString &statement);

// The familiar "mysql <database> -uroot -p**** < file" line the log shows for a load.
QString clientCommandLine(const QString &inputFile, const QString &database);
// Runs the mysql client on a file in the local database; false when cancelled, a failure raised.
bool runClient(CopyContext &ctx, const QString &inputFile, const QString &database, CopyStage stage,
               bool logCommand = true);

}  // namespace velmar
