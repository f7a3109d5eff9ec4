#include "CopyJob.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "DumpFolder.h"
#include "DumpRewrite.h"
#include "Messenger.h"
#include "ProgramInfo.h"
#include "RaisedError.h"
#include "modMySQL_Func_lite.h"
#include "modWaitProc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <filesystem>
#include <memory>
#include <system_error>

namespace velmar {

namespace {

// The administrator account of the local and source servers, and the password every granted
// account gets.
const QString kRootUser = QStringLiteral("root");
const QString kRootPassword = QStringLiteral("wexrolp");
const QString kGrantPassword = QStringLiteral("tq582914");
const QString kLocalHost = QStringLiteral("localhost");

const QString kModMain = QStringLiteral("Module modMain");
const QString kFormMain = QStringLiteral("Form FrmMain");

// The longest database name (and GRANT pattern) the server takes.
constexpr qsizetype kMaxNameLength = 64;

// How long the dump may take to write its first byte (connect and first answers of the source).
constexpr int kDumpFirstOutputMs = 60'000;

// Elapsed-rate helper for the progress signal.
double bytesPerSecond(qint64 bytes, const QElapsedTimer &t)
{
    const qint64 ms = t.elapsed();
    return ms > 0 ? double(bytes) * 1000.0 / double(ms) : 0.0;
}

}  // namespace

void AddLog(const QString &line)
{
    messenger().addLog(line);
}

QString formatElapsed(qint64 milliseconds)
{
    const qint64 total = milliseconds / 1000;
    const qint64 h = total / 3600;
    const qint64 m = (total / 60) % 60;
    const qint64 s = total % 60;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QChar(u'0'))
        .arg(m, 2, 10, QChar(u'0'))
        .arg(s, 2, 10, QChar(u'0'));
}

CopyJob::CopyJob(CopyRequest request, QObject *parent) : QObject(parent), m_request(std::move(request))
{
    if (m_request.programFolder.isEmpty())
        m_request.programFolder = programFolder();
}

void CopyJob::cancel()
{
    m_cancel.store(true);
    // A statement or connect waiting on a silent server returns now, not at its timeout.
    CancelSharedConnection();
}

QString CopyJob::dumpFolder() const
{
    return m_dumpFolder.isEmpty() ? joinPath(m_request.programFolder, QStringLiteral("dump")) : m_dumpFolder;
}

QString CopyJob::charsetFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + QStringLiteral(".charset"));
}

void CopyJob::prepareDumpFolder()
{
    m_dumpFolder.clear();
    const QString own = dumpFolder();
    const bool existed = QFileInfo(own).isDir();
    if (canWriteFolder(own)) {
        if (!existed)
            AddLog(QStringLiteral("dump 폴더 생성: ") + own);
        return;
    }
    // A program installed where the user may not write keeps its dump files with the user.
    const QString other = userDumpFolder();
    if (!canWriteFolder(other))
        throw fileError(err::PathFileAccess, own);
    m_dumpFolder = other;
    AddLog(QStringLiteral("프로그램 폴더에 쓸 수 없어 덤프 파일을 ") + other + QStringLiteral("에 둡니다."));
}

QString CopyJob::dumpFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + QStringLiteral(".sql"));
}

QString CopyJob::editedFilePath() const
{
    return joinPath(dumpFolder(), dumpFileBaseName(SourceDBName()) + QStringLiteral("_2.sql"));
}

bool CopyJob::ProcCopy()
{
    // A cancel is looked at before every step as well as after it: a copy cancelled while a
    // step waited on the server must not go on to drop, create or grant anything.
    m_cancelLogged = false;
    m_stopReason.clear();
    const LastMessage lastBox;
    // Every stage reports its own failures; what reaches here has no step to go on with.
    const bool copied = guarded(QStringLiteral("ProcCopy"), kFormMain, [this] {
        messenger().clearLog();
        return runStages();
    }).value_or(false);
    // The log keeps why the copy stopped once the box that said it is gone.
    if (!copied && !isCancelled()) {
        const QString reason = !m_stopReason.isEmpty() ? m_stopReason : lastBox.text();
        AddLog(QStringLiteral("복사 중단: ")
               + (reason.isEmpty() ? QStringLiteral("작업이 완료되지 않았습니다.") : reason));
    }
    return copied;
}

bool CopyJob::goesOn(bool stepSucceeded)
{
    if (isCancelled()) {
        if (!m_cancelLogged)
            AddLog(QStringLiteral("복사가 취소되었습니다."));
        m_cancelLogged = true;
        return false;
    }
    return stepSucceeded;
}

bool CopyJob::runStep(CopyStage stage, const QString &logLine, bool (CopyJob::*step)())
{
    if (!goesOn(true))
        return false;
    emit stageStarted(stage);
    if (!logLine.isEmpty())
        AddLog(logLine);
    return goesOn((this->*step)());
}

bool CopyJob::runStages()
{
    const CopyRequest &r = m_request;
    QElapsedTimer clock;
    clock.start();
    m_dropPending = false;
    m_sourceCharset.clear();
    if (!goesOn(true))
        return false;
    prepareDumpFolder();
    std::vector<std::unique_ptr<QLockFile>> locks;
    if (!claimFiles(locks))
        return false;

    if (r.stage[0]) {
        if (!goesOn(true))
            return false;
        emit stageStarted(CopyStage::CheckSource);
        AddLog(QStringLiteral("Check Exist DB..."));
        const DbPresence source = IsExistDB(r.host, SourceDBName(), false);
        if (source != DbPresence::Present) {
            if (!goesOn(true))
                return false;
            // A server that could not be asked has told why; the database may well be there.
            if (source == DbPresence::Missing) {
                msgBox(QStringLiteral("존재하지 않는 DB입니다. ") + r.host + u'/' + SourceDBName());
                emit focusRequested(FieldId::cmbField1);
            }
            return false;
        }
    }

    if (r.stage[1]) {
        if (!goesOn(true))
            return false;
        // An import without a dump loads the file an earlier dump left; without it nothing
        // would be loaded into a database that has just been dropped.
        if (!r.stage[0] && !fileExists(editedFilePath())) {
            msgBox(QStringLiteral("가져올 덤프 파일이 없습니다.\r\n") + editedFilePath()
                   + QStringLiteral("\r\n\r\n먼저 1. DB dump 작업으로 덤프 파일을 만드세요."));
            return false;
        }
        emit stageStarted(CopyStage::CheckTarget);
        if (IsExistDB(kLocalHost, NewDBName(), true) != DbPresence::Missing) {
            goesOn(false);
            return false;
        }
    }

    if (r.stage[0]) {
        if (!runStep(CopyStage::Dump, QStringLiteral("Dump..."), &CopyJob::SETP_DBDump)
            || !runStep(CopyStage::Rewrite, QStringLiteral("DumpFile Edit..."), &CopyJob::STEP_EditSQLFile)
            || !goesOn(saveSourceCharset()))
            return false;
    }

    if (m_dropPending) {
        // The local copy goes only now that its replacement is ready.
        emit stageStarted(CopyStage::CheckTarget);
        if (!goesOn(dropTarget()))
            return false;
    }

    if (r.stage[1] && !runStep(CopyStage::Import, QStringLiteral("Import..."), &CopyJob::SETP_DBImport))
        return false;
    if (r.stage[2] && !runStep(CopyStage::Grants, QString(), &CopyJob::AddUser))
        return false;

    if (!goesOn(true))
        return false;
    AddLog(QStringLiteral("[Finish] Total Time=") + formatElapsed(clock.elapsed()));
    emit stageStarted(CopyStage::Done);
    msgBox(QStringLiteral("복사완료"));
    return true;
}

bool CopyJob::claimFiles(std::vector<std::unique_ptr<QLockFile>> &locks)
{
    const CopyRequest &r = m_request;
    struct Claim {
        bool needed;
        QString path;
        QString busy;
    };
    // The dump stage writes the dump files and the import reads them; the import and the grants
    // work on the new database.
    const Claim claims[] = {
        {r.stage[0] || r.stage[1], dumpFilePath() + QStringLiteral(".lock"),
         QStringLiteral("같은 덤프 파일을 쓰는 다른 복사가 진행중입니다. ") + dumpFilePath()},
        {r.stage[1] || r.stage[2],
         joinPath(dumpFolder(), dumpFileBaseName(NewDBName()) + QStringLiteral(".newdb.lock")),
         QStringLiteral("같은 New DB에 복사하는 다른 복사가 진행중입니다. ") + NewDBName()},
    };
    for (const Claim &claim : claims) {
        if (!claim.needed)
            continue;
        auto lock = std::make_unique<QLockFile>(claim.path);
        // Only a lock whose copy has ended without removing it is stale, however long a copy runs.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() != QLockFile::LockFailedError)
                throw fileError(err::PathFileAccess, claim.path);
            msgBox(claim.busy);
            return false;
        }
        locks.push_back(std::move(lock));
    }
    return true;
}

DbPresence CopyJob::databaseExists(const QString &dbName)
{
    // Exactly this one name: quotes, backslashes and the pattern characters are escaped.
    std::unique_ptr<Recordset> rs;
    const qint32 rows
        = OpenRecordset(rs, QStringLiteral("SHOW DATABASES LIKE ") + quoteString(escapeLikePattern(dbName)));
    if (rows < 0)
        return DbPresence::Unknown;  // the failure has been shown
    return rows > 0 ? DbPresence::Present : DbPresence::Missing;
}

bool CopyJob::replaceConsented(const QString &dbName)
{
    // No question once cancelled, and no drop when cancel came while it was asked.
    if (isCancelled())
        return false;
    if (!m_request.existDBDel
        && !askYesNo(QStringLiteral("Local에 동일한 DB명(") + dbName
                     + QStringLiteral(")이 존재합니다.\r\n삭제후 계속 진행할까요?"))) {
        m_stopReason = QStringLiteral("Local에 동일한 DB명(") + dbName + QStringLiteral(")이 존재하며 삭제하지 않았습니다.");
        return false;
    }
    return !isCancelled();
}

DbPresence CopyJob::IsExistDB(const QString &host, const QString &dbName, bool deleteIfExists)
{
    DbPresence found = DbPresence::Unknown;  // after an unexpected error: what had been found
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [&] {
        {
            const SharedConnection db(host.trimmed(), kRootUser, kRootPassword, QString(), &m_cancel);
            if (!db)
                return DbPresence::Unknown;  // the connection error has been shown
            found = databaseExists(dbName);
            if (found == DbPresence::Present && !deleteIfExists)
                readSourceCharset(dbName);
        }
        if (found != DbPresence::Present || !deleteIfExists)
            return found;
        if (host != kLocalHost) {
            msgBox(QStringLiteral("localhost만 DB삭제가능합니다."));
            return DbPresence::Present;
        }
        if (!replaceConsented(dbName))
            return DbPresence::Present;
        if (m_request.stage[0]) {
            // Dropped once the new dump is ready (see runStages).
            m_dropPending = true;
            return DbPresence::Missing;
        }
        // It stays until the drop has succeeded.
        return dropTarget() ? DbPresence::Missing : DbPresence::Present;
    }).value_or(found);
}

bool CopyJob::dropTarget()
{
    if (isCancelled())
        return false;
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [this] {
        const SharedConnection db(kLocalHost, kRootUser, kRootPassword, QString(), &m_cancel);
        if (!db)
            return false;
        DropDatabase(NewDBName());
        // The server's refusal has been shown; a database that is still there stops the copy
        // rather than loading into it.
        if (isCancelled() || databaseExists(NewDBName()) != DbPresence::Missing)
            return false;
        m_dropPending = false;
        AddLog(QStringLiteral("Local DB삭제:") + NewDBName());
        return true;
    }).value_or(false);
}

bool CopyJob::SETP_DBDump()
{
    const QString procedure = QStringLiteral("SETP_DBDump");
    const QString target = dumpFilePath();
    const QString partial = target + QStringLiteral(".part");
    return guarded(procedure, kModMain, [&] {
        if (!QFileInfo(dumpFolder()).isDir()) {
            if (!QDir().mkpath(dumpFolder()))
                throw fileError(err::PathNotFound, dumpFolder());
            AddLog(QStringLiteral("dump 폴더 생성: ") + dumpFolder());
        }

        const QString host = m_request.host.trimmed();
        const QString shown = dumpProgramName() + u' ' + m_request.dumpOption + u' ' + SourceDBName()
                              + QStringLiteral(" -h") + host + QStringLiteral(" -uroot -p")
                              + kRootPassword + QStringLiteral(" > ") + target;
        AddLog(maskSecret(shown, kRootPassword));

        PasswordFile password(kRootPassword);
        // The name comes after "--", so a name that starts with "-" is never read as an option.
        const QStringList arguments = QStringList{password.argument()}
                                      + splitShellWords(m_request.dumpOption) + hostArguments(host)
                                      + QStringList{QStringLiteral("-u") + kRootUser, QStringLiteral("--"),
                                                    SourceDBName()};
        RunOptions options;
        options.stdoutFile = partial;  // an earlier dump stays until this one has succeeded
        options.cancel = &m_cancel;
        // This dump program has no connect timeout: its first output (the dump's header) comes
        // once it has reached the server, so a source that never answers stops it here.
        options.firstOutputTimeoutMs = kDumpFirstOutputMs;
        QElapsedTimer t;
        t.start();
        options.progress = [&](qint64 written, qint64) {
            emit progress(CopyStage::Dump, written, -1, bytesPerSecond(written, t));
        };
        const RunResult run = RunAndWait(findProgram(dumpProgramName(), m_request.programFolder), arguments,
                                         m_request.programFolder, true, false, options);
        if (run.cancelled) {
            QFile::remove(partial);
            return false;
        }
        if (!run.succeeded()) {
            QFile::remove(partial);
            throw programError(dumpProgramName(), run);
        }
        // Replaces an earlier dump in one step: it stays whole until this one is in place.
        std::error_code renameError;
        std::filesystem::rename(std::filesystem::path(partial.toStdU16String()),
                                std::filesystem::path(target.toStdU16String()), renameError);
        if (renameError) {
            QFile::remove(partial);
            throw fileError(err::PathFileAccess, target, QString::fromStdString(renameError.message()));
        }
        return true;
    }).value_or(false);
}

bool CopyJob::STEP_EditSQLFile()
{
    const QString input = dumpFilePath();
    const QString output = editedFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        QFile in(input);
        if (!in.exists())
            throw fileError(err::FileNotFound, input);
        if (!in.open(QIODevice::ReadOnly))
            throw fileError(err::PathFileAccess, input, in.errorString());
        const qint64 total = in.size();
        if (total == 0)
            throw fileError(err::InputPastEnd, input);

        // Written beside the target and renamed into place only when complete, so a failed
        // rewrite never leaves a truncated file for a later import-only copy.
        QSaveFile out(output);
        if (!out.open(QIODevice::WriteOnly))
            throw fileError(err::PathFileAccess, output, out.errorString());

        AddLog(output + QStringLiteral(" / Head AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteHead));
        QElapsedTimer t;
        t.start();
        switch (rewriteDump(in, out, total, &m_cancel, [&](qint64 copied) {
            emit progress(CopyStage::Rewrite, copied, total, bytesPerSecond(copied, t));
        })) {
        case RewriteOutcome::Cancelled:
            out.cancelWriting();
            return false;
        case RewriteOutcome::ReadFailed:
            throw fileError(err::InputPastEnd, input);
        case RewriteOutcome::WriteFailed:
            throw fileError(err::DiskFull, output, out.errorString());
        case RewriteOutcome::Done:
            break;
        }
        AddLog(output + QStringLiteral(" / Tail AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteTail));
        if (!out.commit())
            throw fileError(err::PathFileAccess, output, out.errorString());
        return true;
    }).value_or(false);
}

namespace {

// A character set and collation pair as the server names them: letters, digits and "_" only.
bool isCharsetPair(const QString &text)
{
    static const QRegularExpression pair(QStringLiteral("^[A-Za-z0-9_]+ [A-Za-z0-9_]+$"));
    return pair.match(text).hasMatch();
}

}  // namespace

void CopyJob::readSourceCharset(const QString &dbName)
{
    std::unique_ptr<Recordset> rs;
    if (OpenRecordset(rs, QStringLiteral("SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
                                         "information_schema.SCHEMATA WHERE SCHEMA_NAME = ")
                              + quoteString(dbName))
            > 0
        && rs && rs->RecordCount() > 0) {
        const QString pair = rs->row(0).value(0) + u' ' + rs->row(0).value(1);
        if (isCharsetPair(pair))
            m_sourceCharset = pair;
    }
}

bool CopyJob::saveSourceCharset()
{
    const QString path = charsetFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        // A dump without a known character set leaves no file from an earlier dump behind.
        if (m_sourceCharset.isEmpty())
            return !QFileInfo::exists(path) || QFile::remove(path);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(m_sourceCharset.toUtf8() + '\n') < 0
            || !out.commit())
            throw fileError(err::PathFileAccess, path, out.errorString());
        return true;
    }).value_or(false);
}

QString CopyJob::createDatabaseStatement()
{
    QString pair = m_sourceCharset;
    if (pair.isEmpty()) {
        QFile saved(charsetFilePath());
        if (saved.open(QIODevice::ReadOnly))
            pair = QString::fromUtf8(saved.readLine(200)).trimmed();
    }
    QString statement = QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(NewDBName());
    if (isCharsetPair(pair))
        statement += QStringLiteral(" CHARACTER SET ") + pair.section(u' ', 0, 0)
                     + QStringLiteral(" COLLATE ") + pair.section(u' ', 1, 1);
    return statement;
}

qint32 CopyJob::ExecSQLLog(const QString &statement)
{
    AddLog(statement);
    return ExecuteSQL(statement);
}

bool CopyJob::runClient(const QString &inputFile, CopyStage stage)
{
    const QString shown = clientProgramName() + u' ' + NewDBName() + QStringLiteral(" -uroot -p") + kRootPassword
                          + QStringLiteral(" < ") + inputFile;
    AddLog(maskSecret(shown, kRootPassword));
    if (!fileExists(inputFile))
        throw fileError(err::FileNotFound, inputFile);

    PasswordFile password(kRootPassword);
    // No host option: the client reaches the local server with its own defaults.
    const QStringList arguments{password.argument(), QStringLiteral("-u") + kRootUser,
                                QStringLiteral("--database=") + NewDBName()};
    RunOptions options;
    options.stdinFile = inputFile;
    options.cancel = &m_cancel;
    const qint64 total = QFileInfo(inputFile).size();
    QElapsedTimer t;
    t.start();
    options.progress = [&](qint64, qint64 fed) {
        emit progress(stage, fed, total, bytesPerSecond(fed, t));
    };
    const RunResult run = RunAndWait(findProgram(clientProgramName(), m_request.programFolder), arguments,
                                     m_request.programFolder, true, false, options);
    if (run.cancelled)
        return false;
    if (!run.succeeded())
        throw programError(clientProgramName(), run);
    return true;
}

bool CopyJob::SETP_DBImport()
{
    return guarded(QStringLiteral("SETP_DBImport"), kModMain, [this] {
        if (isCancelled())
            return false;
        {
            const SharedConnection db(kLocalHost, kRootUser, kRootPassword, QString(), &m_cancel);
            if (!db)
                return false;
            if (ExecSQLLog(createDatabaseStatement()) < 0)
                return false;  // the refusal has been shown
        }
        if (isCancelled() || !runClient(editedFilePath(), CopyStage::Import))
            return false;

        if (m_request.foreign) {
            QString script;
            if (SourceDBName().left(7) == QStringLiteral("pelsar_"))
                script = kPelsarScript;
            else if (SourceDBName().left(7) == QStringLiteral("dorvik_"))
                script = kDorvikScript;
            if (!script.isEmpty()) {
                emit stageStarted(CopyStage::ForeignKeys);
                if (!runClient(joinPath(m_request.foreignPath, script), CopyStage::ForeignKeys))
                    return false;
            }
        }
        return true;
    }).value_or(false);
}

bool CopyJob::AddUser()
{
    return guarded(QStringLiteral("AddUser"), kFormMain, [this] {
        if (isCancelled())
            return false;
        const SharedConnection db(kLocalHost, kRootUser, kRootPassword, QString(), &m_cancel);
        if (!db)
            return false;
        // The database name is a pattern in a GRANT: its _ and % are escaped so that the rights
        // cover exactly this database. The server takes no pattern over 64 characters; then the
        // rights go to each table by its exact name (table rights know no patterns).
        const QString pattern = escapeLikePattern(NewDBName());
        QStringList objects;
        if (pattern.size() <= kMaxNameLength) {
            objects << quoteIdentifier(pattern) + QStringLiteral(".*");
        } else {
            std::unique_ptr<Recordset> rs;
            const QString tables = QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                                  "TABLE_SCHEMA = ")
                                   + quoteString(NewDBName()) + QStringLiteral(" ORDER BY TABLE_NAME");
            if (OpenRecordset(rs, tables) < 0)
                return false;  // the failure has been shown
            for (int i = 0; rs && i < rs->RecordCount(); ++i)
                objects << quoteIdentifier(NewDBName()) + u'.' + quoteIdentifier(rs->row(i).value(0));
        }
        const QString identified = QStringLiteral(" IDENTIFIED BY '") + kGrantPassword + u'\'';
        QStringList statements;
        for (const QString &object : std::as_const(objects)) {
            const QString on = QStringLiteral("GRANT ALL ON ") + object + QStringLiteral(" TO ");
            statements << on + quoteString(NewUserName()) + QStringLiteral("@'%'") + identified
                       << on + quoteString(NewUserName()) + QStringLiteral("@'localhost'") + identified;
            if (m_request.onOrdUser)
                statements << on + quoteString(NewUserName() + QStringLiteral("_ord"))
                                  + QStringLiteral("@'%'") + identified;
        }
        for (const QString &statement : std::as_const(statements)) {
            if (isCancelled())
                break;
            AddLog(maskSecret(statement, kGrantPassword));
            // A refused grant has been shown; the user would be left without the rights.
            if (ExecuteSQL(statement) < 0)
                return false;
        }
        return !isCancelled();
    }).value_or(false);
}

}  // namespace velmar
