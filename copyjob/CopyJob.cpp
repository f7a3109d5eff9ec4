#include "CopyJob.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "DumpFolder.h"
#include "DumpRewrite.h"
#include "GrowingFile.h"
#include "SqlLoader.h"
#include "SqlStatementReader.h"
#include "StagedReplace.h"
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
#include <QThread>
#include <QScopeGuard>
#include <QStorageInfo>

#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

namespace velmar {

namespace {

// The administrator account of the local and source servers, and the password every granted
// account gets.
const QString kRootUser = QStringLiteral("root");
const QString kRootPassword = QStringLiteral("wexrolp");
const QString kGrantPassword = QStringLiteral("tq582914");

const QString kLocalHost = QStringLiteral("localhost");

// Every connection to the local server is root's, with no default database.
SharedConnection localConnection(const std::atomic_bool *cancel = nullptr)
{
    return SharedConnection(kLocalHost, kRootUser, kRootPassword, QString(), cancel);
}

// The local database a load goes into, reached as root.
LoadTarget localTarget(const QString &database)
{
    return LoadTarget{kLocalHost, kRootUser, kRootPassword, database};
}

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

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0) + QStringLiteral(" MB");
}

}  // namespace

// The import of a full copy: the rewritten dump, loaded while both are still being written.
struct CopyJob::FollowingImport {
    FollowingImport(const QString &dump, const QString &out) : rewrite(dump, out) {}

    FollowingRewrite rewrite;  // its outcome is the rewrite step's
    bool staged = false;       // loads into the staging database
    LoadResult result;         // once the dump step has run the load
};

// The dump of a full copy runs on a thread of its own while the copy's thread loads what it has
// written. Only the dump's thread touches the rewrite until it ends (under lock, ended then).
struct DumpRun {
    std::mutex lock;
    bool ended = false;
    FollowingRewrite *rewrite = nullptr;  // once the import follows
    std::atomic_bool stop{false};
    std::atomic<qint64> written{0};
    RunResult result;
};

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
    // Shown and logged as the platform writes paths, whichever separators it was given with.
    m_request.programFolder = QDir::toNativeSeparators(m_request.programFolder);
}

CopyJob::~CopyJob() = default;

void CopyJob::cancel()
{
    m_cancel.store(true);
    // A statement or connect waiting on a silent server returns now, not at its timeout. The
    // swap of a replaced database runs to its end: it is short, and stopped half-way it would
    // leave neither database whole.
    if (!m_swapping.load())
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
    abandonFollowingImport();
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
        abandonFollowingImport();
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
    m_replaceExisting = false;
    m_sourceCharset.clear();
    m_sourceBytes = -1;
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
        if (!m_leftOut.isEmpty())
            AddLog(m_leftOut);
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

    // The rewrite and the import begin with the dump's first bytes, and have logged their start.
    m_followDump = importCanFollowDump();
    if (r.stage[0]) {
        if (!runStep(CopyStage::Dump, QStringLiteral("Dump..."), &CopyJob::SETP_DBDump)
            || !(m_following ? goesOn(STEP_EditSQLFile())
                             : runStep(CopyStage::Rewrite, QStringLiteral("DumpFile Edit..."), &CopyJob::STEP_EditSQLFile))
            || !goesOn(saveSourceCharset()))
            return false;
    }

    if (r.stage[1]
        && !(m_following ? goesOn(SETP_DBImport())
                         : runStep(CopyStage::Import, QStringLiteral("Import..."), &CopyJob::SETP_DBImport)))
        return false;
    if (r.stage[2] && !runStep(CopyStage::Grants, QString(), &CopyJob::AddUser))
        return false;

    if (!goesOn(true))
        return false;
    // Said again where a finished copy is read (only a dump's source check finds anything).
    if (!m_leftOut.isEmpty())
        AddLog(m_leftOut);
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
            // A staging database a crashed copy left for this target goes first.
            if (deleteIfExists && host == kLocalHost && dbName == NewDBName() && !removeLeftoverStaging())
                return DbPresence::Present;
            found = databaseExists(dbName);
            if (found == DbPresence::Present && !deleteIfExists) {
                readSourceCharset(dbName);
                const QString schema = quoteString(dbName);
                m_leftOut = leftOutNotice(
                    m_request.dumpOption,
                    column(QStringLiteral("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = ") + schema)
                        .value(0).toInt(),
                    column(QStringLiteral("SELECT COUNT(*) FROM information_schema.EVENTS WHERE EVENT_SCHEMA = ") + schema)
                        .value(0).toInt());
                bool read = false;
                const qint64 size = column(QStringLiteral("SELECT COALESCE(SUM(DATA_LENGTH + INDEX_LENGTH), 0) FROM "
                                                          "information_schema.TABLES WHERE TABLE_SCHEMA = ")
                                               + quoteString(dbName))
                                        .value(0)
                                        .toLongLong(&read);
                m_sourceBytes = read ? size : -1;
            }
        }
        if (found != DbPresence::Present || !deleteIfExists)
            return found;
        if (host != kLocalHost) {
            msgBox(QStringLiteral("localhost만 DB삭제가능합니다."));
            return DbPresence::Present;
        }
        if (!replaceConsented(dbName))
            return DbPresence::Present;
        // Replaced once its replacement has loaded beside it (see SETP_DBImport).
        m_replaceExisting = true;
        return DbPresence::Missing;
    }).value_or(found);
}

bool CopyJob::dropTarget()
{
    if (isCancelled())
        return false;
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [this] {
        const SharedConnection db = localConnection(&m_cancel);
        return db && !isCancelled() && dropOpenTarget();
    }).value_or(false);
}

bool CopyJob::dropOpenTarget()
{
    DropDatabase(NewDBName());
    // The server's refusal has been shown; a database that is still there stops the copy
    // rather than loading into it.
    if (databaseExists(NewDBName()) != DbPresence::Missing)
        return false;
    AddLog(QStringLiteral("Local DB삭제:") + NewDBName());
    return true;
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
        const QString shown = dumpProgramName() + u' ' + m_request.dumpOption + u' ' + shownWord(SourceDBName())
                              + QStringLiteral(" -h") + host + QStringLiteral(" -uroot -p")
                              + kRootPassword + QStringLiteral(" > ") + target;
        AddLog(maskSecret(shown, kRootPassword));

        PasswordFile password(kRootPassword);
        // The name comes after "--", so a name that starts with "-" is never read as an option.
        const QStringList arguments = QStringList{password.argument()}
                                      + splitShellWords(m_request.dumpOption) + hostArguments(host)
                                      + QStringList{QStringLiteral("-u") + kRootUser, QStringLiteral("--"),
                                                    SourceDBName()};
        {
            // Made here, for its owner only; the runner then writes into it.
            QFile made(partial);
            if (made.open(QIODevice::WriteOnly | QIODevice::Truncate))
                restrictToOwner(made);
        }
        RunOptions options;
        options.stdoutFile = partial;  // an earlier dump stays until this one has succeeded
        // This dump program has no connect timeout: its first output (the dump's header) comes
        // once it has reached the server, so a source that never answers stops it here.
        options.firstOutputTimeoutMs = kDumpFirstOutputMs;
        const QString program = findProgram(dumpProgramName(), m_request.programFolder);
        RunResult run;
        std::exception_ptr followError;
        if (m_followDump) {
            run = dumpWhileLoading(program, arguments, options, followError);
        } else {
            options.cancel = &m_cancel;
            QElapsedTimer t;
            t.start();
            options.progress = [&](qint64 written, qint64) {
                emit progress(CopyStage::Dump, written, -1, bytesPerSecond(written, t));
            };
            run = RunAndWait(program, arguments, m_request.programFolder, true, false, options);
        }
        if (followError || run.cancelled || !run.succeeded())
            abandonFollowingImport();  // before the box: the load is dropped, the old database stays
        if (followError) {
            removeFile(partial);
            std::rethrow_exception(followError);
        }
        if (run.cancelled) {
            removeFile(partial);
            return false;
        }
        if (!run.succeeded()) {
            removeFile(partial);
            throw programError(dumpProgramName(), run);
        }
        // Replaces an earlier dump in one step: it stays whole until this one is in place.
        QString renameError;
        if (!replaceFile(partial, target, &renameError)) {
            removeFile(partial);
            throw fileError(err::PathFileAccess, target, renameError);
        }
        return true;
    }).value_or(false);
}

RunResult CopyJob::dumpWhileLoading(const QString &program, const QStringList &arguments, RunOptions options,
                                    std::exception_ptr &followError)
{
    DumpRun run;
    options.cancel = &run.stop;
    options.progress = [this, &run](qint64 written, qint64) {
        if (isCancelled())
            run.stop = true;
        run.written = written;
        // A failure stops the load now; the rewrite step reports it once the dump is done.
        std::lock_guard<std::mutex> lock(run.lock);
        if (run.rewrite)
            run.rewrite->pump();
    };
    // Once the dump has ended, the rest of it and the tail bring the load to its end.
    const auto endRewrite = [&run] {
        FollowingRewrite *w = run.rewrite;
        if (!w)
            return;
        if (run.result.cancelled || !run.result.succeeded())
            return w->abandon(QStringLiteral("the dump did not complete"));
        w->drain();
        w->finish();
    };
    const std::unique_ptr<QThread> dumper(QThread::create([&] {
        RunResult result = RunAndWait(program, arguments, m_request.programFolder, true, false, options);
        std::lock_guard<std::mutex> lock(run.lock);
        run.result = std::move(result);
        run.ended = true;
        endRewrite();
    }));
    dumper->setObjectName(QStringLiteral("dump"));
    dumper->start();
    // However the copy leaves this function, the dump's thread has ended first.
    const auto joined = qScopeGuard([&] {
        run.stop = true;
        dumper->wait();
    });

    // The first bytes mean the source answers: the rewrite and the import begin beside the dump.
    while (run.written == 0 && !dumper->wait(10)) {
    }
    bool refused = false;  // the import could not begin: its box has been shown
    if (run.written > 0 && !isCancelled()) {
        try {
            refused = !startFollowingImport();
        } catch (...) {
            followError = std::current_exception();
        }
        if (m_following) {
            std::lock_guard<std::mutex> lock(run.lock);
            run.rewrite = &m_following->rewrite;
            if (run.ended)  // a dump shorter than the first look at it
                endRewrite();
        }
    }
    if (m_following) {
        // Loaded here, on the copy's own thread, while the dump goes on.
        LoadOptions load = loadOptions();
        load.growing = m_following->rewrite.file();
        m_following->result = loadSqlFile(editedFilePath() + QStringLiteral(".part"),
                                          localTarget(loadDatabase(m_following->staged)),
                                          load);
    } else if (refused || followError) {
        run.stop = true;
    }
    // The dump goes on to its end, so that its files are whole whatever the load did.
    while (!dumper->wait(100)) {
        if (isCancelled())
            run.stop = true;
    }
    RunResult result = run.result;
    if (refused)
        result.cancelled = true;
    return result;
}

bool CopyJob::STEP_EditSQLFile()
{
    const QString input = dumpFilePath();
    const QString output = editedFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        if (FollowingImport *f = m_following.get()) {
            // Written while the dump was, tail included.
            if (f->rewrite.outcome() == RewriteOutcome::ReadFailed)
                throw fileError(err::InputPastEnd, input);
            if (f->rewrite.outcome() != RewriteOutcome::Done)
                throw fileError(err::DiskFull, output, f->rewrite.errorString());
            AddLog(output + QStringLiteral(" / Tail AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteTail));
            return true;
        }
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
        restrictToOwner(out);

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
            return removeFile(path);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(m_sourceCharset.toUtf8() + '\n') < 0
            || !out.commit())
            throw fileError(err::PathFileAccess, path, out.errorString());
        return true;
    }).value_or(false);
}

QString CopyJob::sourceCharsetClause()
{
    QString pair = m_sourceCharset;
    if (pair.isEmpty()) {
        QFile saved(charsetFilePath());
        if (saved.open(QIODevice::ReadOnly))
            pair = QString::fromUtf8(saved.readLine(200)).trimmed();
    }
    if (!isCharsetPair(pair))
        return {};
    return QStringLiteral(" CHARACTER SET ") + pair.section(u' ', 0, 0) + QStringLiteral(" COLLATE ")
           + pair.section(u' ', 1, 1);
}

qint32 CopyJob::ExecSQLLog(const QString &statement)
{
    AddLog(statement);
    return ExecuteSQL(statement);
}

bool CopyJob::runClient(const QString &inputFile, const QString &database, CopyStage stage, bool logCommand)
{
    if (logCommand)
        AddLog(clientCommandLine(inputFile, database));
    if (!fileExists(inputFile))
        throw fileError(err::FileNotFound, inputFile);

    PasswordFile password(kRootPassword);
    // No host option: the client reaches the local server with its own defaults.
    const QStringList arguments{password.argument(), QStringLiteral("-u") + kRootUser,
                                QStringLiteral("--database=") + database};
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

QString CopyJob::clientCommandLine(const QString &inputFile, const QString &database) const
{
    // The familiar command line, though the dump itself is loaded by velmar's own loader.
    return maskSecret(clientProgramName() + u' ' + shownWord(database) + QStringLiteral(" -uroot -p") + kRootPassword
                          + QStringLiteral(" < ") + inputFile,
                      kRootPassword);
}

LoadOptions CopyJob::loadOptions()
{
    LoadOptions options;
    options.connections = m_request.importConnections > 0 ? m_request.importConnections
                                                          : defaultImportConnections();
    options.cancel = &m_cancel;
    QElapsedTimer clock;
    clock.start();
    options.progress = [this, clock](qint64 done, qint64 total) {
        emit progress(CopyStage::Import, done, total, bytesPerSecond(done, clock));
    };
    return options;
}

QString CopyJob::loadDatabase(bool staged) const
{
    return staged ? stagingDatabaseName(NewDBName()) : NewDBName();
}

bool CopyJob::startFollowingImport()
{
    const QString output = editedFilePath();
    auto f = std::make_unique<FollowingImport>(dumpFilePath() + QStringLiteral(".part"),
                                               output + QStringLiteral(".part"));
    emit stageStarted(CopyStage::Rewrite);
    AddLog(QStringLiteral("DumpFile Edit..."));
    if (!f->rewrite.begin())
        throw fileError(err::PathFileAccess, output, f->rewrite.errorString());
    AddLog(output + QStringLiteral(" / Head AddLine...\r\n\r\n") + QString::fromLatin1(kRewriteHead));

    emit stageStarted(CopyStage::Import);
    AddLog(QStringLiteral("Import..."));
    // The room for an old database beside its replacement was judged before the dump began.
    f->staged = m_replaceExisting;
    if (isCancelled() || !createDatabase(loadDatabase(f->staged)))
        return false;  // the refusal has been shown
    AddLog(clientCommandLine(output, loadDatabase(f->staged)));
    AddLog(QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개, 덤프와 동시에)").arg(loadOptions().connections));
    m_following = std::move(f);
    return true;
}

void CopyJob::abandonFollowingImport()
{
    if (!m_following)
        return;
    const bool staged = m_following->staged;
    m_following.reset();  // the load has stopped: the partial rewrite goes
    guarded(QStringLiteral("SETP_DBImport"), kModMain, [&] {
        discardLoad(loadDatabase(staged), staged);
        return true;
    });
}

LoadResult CopyJob::followedImportResult(const QString &file)
{
    const std::unique_ptr<FollowingImport> f = std::move(m_following);
    LoadResult r = f->result;
    // Named as the file is named once complete.
    r.message.replace(file + QStringLiteral(".part"), file);
    if (!f->rewrite.commit(file))
        throw fileError(err::PathFileAccess, file, f->rewrite.errorString());
    return r;
}

bool CopyJob::loadDump(const QString &file, const QString &database)
{
    LoadResult r;
    if (m_following) {
        r = followedImportResult(file);
    } else {
        AddLog(clientCommandLine(file, database));
        if (!fileExists(file))
            throw fileError(err::FileNotFound, file);
        const LoadOptions options = loadOptions();
        AddLog(QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개)").arg(options.connections));
        r = loadSqlFile(file, localTarget(database), options);
    }
    switch (r.outcome) {
    case LoadResult::Outcome::Loaded:
        return true;
    case LoadResult::Outcome::Cancelled:
        return false;
    case LoadResult::Outcome::NeedsClient:
        // A file with commands only the client runs (source, system, ...) is the client's, from
        // its start, in the database this copy made (made anew when the loader sent statements
        // before it reached the command).
        AddLog(r.message + QStringLiteral(" -> ") + clientProgramName());
        if (r.statements > 0) {
            {
                const SharedConnection db = localConnection(&m_cancel);
                if (!db)
                    return false;
                DropDatabase(database);
            }
            if (isCancelled() || !createDatabase(database))
                return false;
        }
        return runClient(file, database, CopyStage::Import, false);
    case LoadResult::Outcome::Failed:
        break;
    }
    throw RaisedError(r.errorNumber ? qint32(r.errorNumber) : 1, clientProgramName(), r.message);
}

QString CopyJob::foreignKeyScript() const
{
    if (!m_request.foreign)
        return {};
    if (SourceDBName().left(7) == QStringLiteral("pelsar_"))
        return joinPath(m_request.foreignPath, kPelsarScript);
    if (SourceDBName().left(7) == QStringLiteral("dorvik_"))
        return joinPath(m_request.foreignPath, kDorvikScript);
    return {};
}

bool CopyJob::runForeignKeys(const QString &script, const QString &database)
{
    emit stageStarted(CopyStage::ForeignKeys);
    return runClient(script, database, CopyStage::ForeignKeys);
}

bool CopyJob::createDatabase(const QString &database)
{
    const SharedConnection db = localConnection(&m_cancel);
    // A refusal has been shown.
    return db
           && ExecSQLLog(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(database)
                         + sourceCharsetClause())
                  >= 0;
}

qint64 CopyJob::localRoom(QString *folder)
{
    {
        const SharedConnection db = localConnection();
        if (!db)
            return -2;  // shown
        *folder = column(QStringLiteral("SELECT @@datadir")).value(0);
    }
    // Only a server on this machine has a folder to look at.
    const QStorageInfo storage(*folder);
    if (folder->isEmpty() || !storage.isValid() || !storage.isReady())
        return -1;
    return storage.bytesAvailable();
}

bool CopyJob::importCanFollowDump()
{
    if (!m_request.stage[0] || !m_request.stage[1])
        return false;
    if (!m_replaceExisting)
        return true;
    // The dump's size is not known before it ends: twice the source's own size stands for it.
    // A folder that may be short waits for the dump, and its question is asked with the real size.
    QString folder;
    const qint64 room = localRoom(&folder);
    return m_sourceBytes >= 0 && (room == -1 || room >= 2 * m_sourceBytes);
}

bool CopyJob::roomBesideOld(qint64 bytes)
{
    QString folder;
    const qint64 room = localRoom(&folder);
    if (room == -2)
        return false;
    // Elsewhere than on this machine the load goes on.
    if (room == -1 || room >= bytes)
        return true;
    return askYesNo(QStringLiteral("로컬 서버의 데이터 폴더(") + folder + QStringLiteral(")에 남은 공간(")
                        + megabytes(room)
                        + QStringLiteral(")이 기존 DB를 둔 채 새 DB를 가져오기에 부족합니다(약 ")
                        + megabytes(bytes)
                        + QStringLiteral(" 필요).\r\n기존 DB를 먼저 삭제하고 가져올까요?"),
                    Answer::No)
           && !isCancelled() && dropTarget() && (m_replaceExisting = false, true);
}

void CopyJob::discardLoad(const QString &database, bool staging)
{
    // A failed or cancelled load leaves nothing behind; the user's own database is untouched.
    const SharedConnection db = localConnection();
    if (!db)
        return;  // a staging database is removed by the next copy of the same target
    DropDatabase(database);
    if (staging)
        AddLog(QStringLiteral("가져오기를 마치지 못해 임시 DB(") + database + QStringLiteral(")를 삭제했습니다. 기존 DB(")
               + NewDBName() + QStringLiteral(")는 그대로입니다."));
    else
        AddLog(QStringLiteral("가져오기를 마치지 못해 새로 만든 DB(") + database + QStringLiteral(")를 삭제했습니다."));
}

bool CopyJob::removeLeftoverStaging()
{
    // Only the name this target's staging database has: no database of the user's is touched.
    const QString staging = stagingDatabaseName(NewDBName());
    const DbPresence left = databaseExists(staging);
    if (left != DbPresence::Present)
        return left == DbPresence::Missing;
    DropDatabase(staging);
    if (databaseExists(staging) != DbPresence::Missing)
        return false;
    AddLog(QStringLiteral("이전 복사가 남긴 임시 DB 삭제:") + staging);
    return true;
}

QStringList CopyJob::column(const QString &sql, bool *ok)
{
    std::unique_ptr<Recordset> rs;
    QStringList values;
    const qint32 rows = OpenRecordset(rs, sql);
    for (int i = 0; rs && i < rs->RecordCount(); ++i)
        values << rs->row(i).value(0);
    if (ok)
        *ok = rows >= 0;  // a failure has been shown
    return values;
}

bool CopyJob::swapIn(const QString &staging)
{
    m_swapping.store(true);
    const auto swapped = qScopeGuard([this] { m_swapping.store(false); });
    const SharedConnection db = localConnection();
    if (!db)
        return false;
    const QString from = quoteIdentifier(staging) + u'.';
    const QString to = quoteIdentifier(NewDBName()) + u'.';
    const QString where = QStringLiteral(" WHERE TABLE_SCHEMA = ") + quoteString(staging);
    // Nothing of the user's is touched until every question about the staging database has
    // been answered: a failure here (shown) leaves the old database as it is.
    bool triggersListed = false, tablesListed = false, charsetRead = false;
    const QStringList triggers = column(
        QStringLiteral("SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = ")
            + quoteString(staging),
        &triggersListed);
    const QStringList tables = column(QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES") + where
                                          + QStringLiteral(" AND TABLE_TYPE <> 'VIEW'"),
                                      &tablesListed);
    const QStringList charset = column(
        QStringLiteral("SELECT CONCAT_WS(' ', 'CHARACTER SET', DEFAULT_CHARACTER_SET_NAME, 'COLLATE', "
                       "DEFAULT_COLLATION_NAME) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = ")
            + quoteString(staging),
        &charsetRead);
    if (!triggersListed || !tablesListed || !charsetRead)
        return false;
    // A table with triggers cannot move to another database; the file creates them anew there.
    for (const QString &trigger : triggers) {
        if (ExecuteSQL(QStringLiteral("DROP TRIGGER ") + from + quoteIdentifier(trigger)) < 0)
            return false;
    }
    QStringList moves;
    for (const QString &table : tables)
        moves << from + quoteIdentifier(table) + QStringLiteral(" TO ") + to + quoteIdentifier(table);

    // From here the user's database is unavailable until its replacement is in place.
    QElapsedTimer away;
    away.start();
    if (!dropOpenTarget())
        return false;
    if (ExecSQLLog(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(NewDBName()) + u' '
                   + charset.value(0))
        < 0)
        return false;
    if (!moves.isEmpty()) {
        AddLog(QStringLiteral("테이블 이동: ") + staging + QStringLiteral(" -> ") + NewDBName()
               + QStringLiteral(" (%1개)").arg(moves.size()));
        if (ExecuteSQL(QStringLiteral("RENAME TABLE ") + moves.join(QStringLiteral(", "))) < 0)
            return false;
    }
    // Views, triggers, routines and events, from the file's own statements, in its order.
    LoadOptions objects;
    objects.connections = 1;
    objects.filter = isObjectStatement;
    const LoadResult r =
        loadSqlFile(editedFilePath(), localTarget(NewDBName()), objects);
    if (r.outcome != LoadResult::Outcome::Loaded)
        throw RaisedError(r.errorNumber ? qint32(r.errorNumber) : 1, clientProgramName(), r.message);
    AddLog(QStringLiteral("Local DB 교체 완료: ") + NewDBName()
           + QStringLiteral(" (사용할 수 없던 시간 %1초)").arg(double(away.elapsed()) / 1000.0, 0, 'f', 1));
    DropDatabase(staging);
    return true;
}

bool CopyJob::SETP_DBImport()
{
    return guarded(QStringLiteral("SETP_DBImport"), kModMain, [this] {
        if (isCancelled())
            return false;
        const QString file = editedFilePath();
        // An existing database stays whole and usable while its replacement loads beside it,
        // unless the server's folder has no room for both and the user chose to drop it first.
        // An import that follows the dump has its database already.
        const bool following = m_following != nullptr;
        if (!following && m_replaceExisting && !roomBesideOld(QFileInfo(file).size()))
            return false;
        const bool staged = following ? m_following->staged : m_replaceExisting;
        const QString loadInto = loadDatabase(staged);
        if (!following && (isCancelled() || !createDatabase(loadInto)))
            return false;
        // The foreign-key script is the user's own SQL: one that names a database could reach
        // the old database while it is still the user's, so it waits for the replacement.
        const QString script = foreignKeyScript();
        const bool scriptAfterSwap = staged && !script.isEmpty() && scriptNamesDatabase(script, NewDBName());
        bool loaded = false;
        try {
            loaded = loadDump(file, loadInto)
                     && (script.isEmpty() || scriptAfterSwap || runForeignKeys(script, loadInto));
        } catch (...) {
            discardLoad(loadInto, staged);
            throw;
        }
        // A cancel that came as the load ended keeps the user's database too: the swap has not begun.
        if (!loaded || (staged && isCancelled())) {
            discardLoad(loadInto, staged);
            return false;
        }
        if (staged && !swapIn(loadInto))
            return false;
        return !scriptAfterSwap || runForeignKeys(script, NewDBName());
    }).value_or(false);
}

bool CopyJob::AddUser()
{
    return guarded(QStringLiteral("AddUser"), kFormMain, [this] {
        if (isCancelled())
            return false;
        const SharedConnection db = localConnection(&m_cancel);
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
            bool listed = false;
            const QStringList tables = column(QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                                             "TABLE_SCHEMA = ")
                                                  + quoteString(NewDBName()) + QStringLiteral(" ORDER BY TABLE_NAME"),
                                              &listed);
            if (!listed)
                return false;  // the failure has been shown
            for (const QString &table : tables)
                objects << quoteIdentifier(NewDBName()) + u'.' + quoteIdentifier(table);
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
