#include "CopyContext.h"

#include "DumpFolder.h"
#include "Messenger.h"
#include "ProgramInfo.h"
#include "RaisedError.h"
#include "StagedReplace.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

namespace velmar {

CopyContext::CopyContext(CopyRequest r) : request(std::move(r))
{
    if (request.programFolder.isEmpty())
        request.programFolder = programFolder();
    // Shown and logged as the platform writes paths, whichever separators it was given with.
    request.programFolder = QDir::toNativeSeparators(request.programFolder);
}

void CopyContext::requestCancel()
{
    const std::lock_guard<std::mutex> lock(m_cancelLock);
    cancel.store(true);
    if (m_changing.load())
        return;
    CancelSharedConnection();
    for (cMySQL *c : m_cancellable)
        c->cancel();
}

void CopyContext::addCancellable(cMySQL *connection)
{
    const std::lock_guard<std::mutex> lock(m_cancelLock);
    m_cancellable.push_back(connection);
    if (cancel.load())
        connection->cancel();
}

void CopyContext::removeCancellable(cMySQL *connection)
{
    const std::lock_guard<std::mutex> lock(m_cancelLock);
    std::erase(m_cancellable, connection);
}

bool CopyContext::beginChanging()
{
    const std::lock_guard<std::mutex> lock(m_cancelLock);
    if (cancel.load())
        return false;
    m_changing.store(true);
    return true;
}

void CopyContext::startStage(CopyStage stage) const
{
    if (stageStarted)
        stageStarted(stage);
}

void CopyContext::report(CopyStage stage, qint64 done, qint64 total, const QElapsedTimer &since) const
{
    if (!progress)
        return;
    const qint64 ms = since.elapsed();
    progress(stage, done, total, ms > 0 ? double(done) * 1000.0 / double(ms) : 0.0);
}

QString CopyContext::dumpFolder() const
{
    return m_dumpFolder.isEmpty() ? joinPath(request.programFolder, QStringLiteral("dump")) : m_dumpFolder;
}

QStringList ChangePlan::dropped() const
{
    QStringList tables;
    for (const Change &c : changes) {
        if (c.reason == ChangeReason::Dropped)
            tables << c.table;
    }
    return tables;
}

QString CopyContext::dumpFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + (changes ? QStringLiteral("@changed") : QString())
                                      + QStringLiteral(".sql"));
}

QString CopyContext::editedFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + (changes ? QStringLiteral("@changed") : QString())
                                      + QStringLiteral("_2.sql"));
}

QString CopyContext::definitionsFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(NewDBName()) + QStringLiteral(".newdb.tables"));
}

QString CopyContext::sourceIdentity() const
{
    return request.host.trimmed() + u'/' + SourceDBName();
}

QString CopyContext::charsetFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + QStringLiteral(".charset"));
}

void CopyContext::settleDumpFolder()
{
    m_dumpFolder.clear();
    const QString own = dumpFolder();
    const bool existed = QFileInfo(own).isDir();
    if (canWriteFolder(own)) {
        if (!existed)
            messenger().addLog(QStringLiteral("dump 폴더 생성: ") + own);
        return;
    }
    // A program installed where the user may not write keeps its dump files with the user.
    const QString other = userDumpFolder();
    if (!canWriteFolder(other))
        throw fileError(err::PathFileAccess, own);
    m_dumpFolder = other;
    messenger().addLog(QStringLiteral("프로그램 폴더에 쓸 수 없어 덤프 파일을 ") + other + QStringLiteral("에 둡니다."));
}

SharedConnection CopyContext::localConnection(bool cancellable)
{
    return SharedConnection(kLocalHost, kRootUser, kRootPassword, QString(), cancellable ? &cancel : nullptr);
}

LoadTarget CopyContext::localTarget(const QString &database) const
{
    return LoadTarget{kLocalHost, kRootUser, kRootPassword, database};
}

QString CopyContext::loadDatabase() const
{
    return stagingDatabaseName(NewDBName());
}

LoadOptions CopyContext::loadOptions()
{
    LoadOptions options;
    options.connections = request.importConnections > 0 ? request.importConnections : defaultImportConnections();
    options.cancel = &cancel;
    options.adapter = adapter;
    // The views, triggers and routines of a partial dump read tables the staging database lacks:
    // they are made once the changed tables are in the user's database.
    if (changes)
        options.filter = [](const SqlStatement &s) { return !isObjectDefinition(s); };
    QElapsedTimer clock;
    clock.start();
    options.progress = [this, clock](qint64 done, qint64 total) { report(CopyStage::Import, done, total, clock); };
    return options;
}

bool isCharsetPair(const QString &text)
{
    static const QRegularExpression pair(QStringLiteral("^[A-Za-z0-9_]+ [A-Za-z0-9_]+$"));
    return pair.match(text).hasMatch();
}

QStringList column(const QString &sql, bool *ok)
{
    std::unique_ptr<Recordset> rs;
    QStringList values;
    const qint32 rows = OpenRecordset(rs, sql);
    for (int i = 0; rs && i < rs->RecordCount(); ++i)
        values << rs->row(i).value(0);
    if (ok)
        *ok = rows >= 0;
    return values;
}

std::unique_ptr<Recordset> quietRows(const QString &sql, qint32 *error, QString *text)
{
    cMySQL *c = sharedConnection();
    if (!c)
        return nullptr;
    try {
        return c->real_query(sql, std::numeric_limits<qint32>::max());
    } catch (const RaisedError &e) {
        if (error)
            *error = e.Number;
        if (text)
            *text = e.Description;
        return nullptr;
    }
}

DbPresence databaseExists(const QString &dbName)
{
    // Exactly this one name: quotes, backslashes and the pattern characters are escaped.
    std::unique_ptr<Recordset> rs;
    const qint32 rows
        = OpenRecordset(rs, QStringLiteral("SHOW DATABASES LIKE ") + quoteString(escapeLikePattern(dbName)));
    if (rows < 0)
        return DbPresence::Unknown;  // the failure has been shown
    return rows > 0 ? DbPresence::Present : DbPresence::Missing;
}

}  // namespace velmar
