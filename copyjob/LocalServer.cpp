#include "LocalServer.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "Messenger.h"
#include "OtherSessions.h"
#include "RaisedError.h"
#include "StagedReplace.h"
#include "modWaitProc.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>

namespace velmar {

namespace {

// The character set and collation clause for the new database, when this copy or the dump it
// loads knows the source's; empty for the server's default.
QString sourceCharsetClause(const CopyContext &ctx)
{
    QString pair = ctx.source.charset;
    if (pair.isEmpty()) {
        QFile saved(ctx.charsetFilePath());
        if (saved.open(QIODevice::ReadOnly))
            pair = QString::fromUtf8(saved.readLine(200)).trimmed();
    }
    if (!isCharsetPair(pair))
        return {};
    return QStringLiteral(" CHARACTER SET ") + pair.section(u' ', 0, 0) + QStringLiteral(" COLLATE ")
           + pair.section(u' ', 1, 1);
}

}  // namespace

bool createDatabase(CopyContext &ctx, const QString &database)
{
    const SharedConnection db = ctx.localConnection();
    return db
           && ExecSQLLog(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(database)
                         + sourceCharsetClause(ctx))
                  >= 0;
}

bool dropTarget(CopyContext &ctx)
{
    if (ctx.isCancelled())
        return false;
    // Reported as the check that found the database.
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [&] {
        const SharedConnection db = ctx.localConnection();
        const auto dropped = qScopeGuard([&ctx] { ctx.endChanging(); });
        if (db)
            boundLockWaits();
        return db && !ctx.isCancelled() && dropOpenTarget(ctx);
    }).value_or(false);
}

bool dropOpenTarget(CopyContext &ctx)
{
    const QString name = ctx.NewDBName();
    for (;;) {
        if (!clearOtherSessions(ctx, name, ctx.stopReason))
            return false;
        if (!ctx.beginChanging())
            return false;
        quietRows(QStringLiteral("SET FOREIGN_KEY_CHECKS=0"));
        const qint32 result = tryStatement(QStringLiteral("DROP DATABASE ") + quoteIdentifier(name));
        quietRows(QStringLiteral("SET FOREIGN_KEY_CHECKS=1"));
        if (result == 0)
            break;
        ctx.endChanging();
        if (result != kLockWaitTimeout)
            return false;
        // A connection that holds a lock without showing the database, or one that came since.
        messenger().addLog(QStringLiteral("Local DB(") + name + QStringLiteral(") 삭제가 다른 연결의 잠금을 기다립니다."));
    }
    // A database that is still there stops the copy rather than loading into it.
    if (databaseExists(name) != DbPresence::Missing)
        return false;
    messenger().addLog(QStringLiteral("Local DB삭제:") + ctx.NewDBName());
    return true;
}

void discardLoad(CopyContext &ctx, const QString &database, bool replacing)
{
    // A failed or cancelled load leaves nothing behind; the user's own database is untouched.
    const SharedConnection db = ctx.localConnection(false);
    if (!db)
        return;  // a staging database is removed by the next copy of the same target
    DropDatabase(database);
    if (replacing)
        messenger().addLog(QStringLiteral("가져오기를 마치지 못해 임시 DB(") + database
                           + QStringLiteral(")를 삭제했습니다. 기존 DB(") + ctx.NewDBName()
                           + QStringLiteral(")는 그대로입니다."));
    else
        messenger().addLog(QStringLiteral("가져오기를 마치지 못해 새로 만든 DB(") + ctx.NewDBName()
                           + QStringLiteral(")를 삭제했습니다."));
}

bool removeLeftoverStaging(CopyContext &ctx)
{
    // Only the name this target's staging database has: no database of the user's is touched.
    const QString staging = stagingDatabaseName(ctx.NewDBName());
    const DbPresence left = databaseExists(staging);
    if (left != DbPresence::Present)
        return left == DbPresence::Missing;
    DropDatabase(staging);
    if (databaseExists(staging) != DbPresence::Missing)
        return false;
    messenger().addLog(QStringLiteral("이전 복사가 남긴 임시 DB 삭제:") + staging);
    return true;
}

bool localRoom(CopyContext &ctx, DataFolderRoom &room)
{
    {
        const SharedConnection db = ctx.localConnection(false);
        if (!db)
            return false;
        room.folder = column(QStringLiteral("SELECT @@datadir")).value(0);
    }
    // Only a server on this machine has a folder to look at.
    const QStorageInfo storage(room.folder);
    if (!room.folder.isEmpty() && storage.isValid() && storage.isReady())
        room.free = storage.bytesAvailable();
    return true;
}

void boundLockWaits()
{
    quietRows(QStringLiteral("SET SESSION lock_wait_timeout = %1").arg(kLockWaitSeconds));
}

qint32 tryStatement(const QString &statement)
{
    qint32 error = 0;
    QString text;
    quietRows(statement, &error, &text);
    if (error == 0 || error == kLockWaitTimeout)
        return error;
    msgBox(QStringLiteral("Error ") + QString::number(error) + QStringLiteral(" (") + text + u')');
    return -1;
}

qint32 ExecSQLLog(const QString &statement)
{
    messenger().addLog(statement);
    return ExecuteSQL(statement);
}

QString clientCommandLine(const QString &inputFile, const QString &database)
{
    // The familiar command line, though the dump itself is loaded by velmar's own loader.
    return maskSecret(clientProgramName() + u' ' + shownWord(database) + QStringLiteral(" -uroot -p") + kRootPassword
                          + QStringLiteral(" < ") + inputFile,
                      kRootPassword);
}

bool runClient(CopyContext &ctx, const QString &inputFile, const QString &database, CopyStage stage,
               bool logCommand)
{
    if (logCommand)
        messenger().addLog(clientCommandLine(inputFile, database));
    if (!fileExists(inputFile))
        throw fileError(err::FileNotFound, inputFile);

    PasswordFile password(kRootPassword);
    // No host option: the client reaches the local server with its own defaults.
    const QStringList arguments{password.argument(), QStringLiteral("-u") + kRootUser,
                                QStringLiteral("--database=") + database};
    RunOptions options;
    options.stdinFile = inputFile;
    options.cancel = &ctx.cancel;
    const qint64 total = QFileInfo(inputFile).size();
    QElapsedTimer t;
    t.start();
    options.progress = [&](qint64, qint64 fed) { ctx.report(stage, fed, total, t); };
    const QString folder = ctx.request.programFolder;
    const RunResult run = RunAndWait(findProgram(clientProgramName(), folder), arguments, folder, true, false, options);
    if (run.cancelled)
        return false;
    if (!run.succeeded())
        throw programError(clientProgramName(), run);
    return true;
}

}  // namespace velmar
