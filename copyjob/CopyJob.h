#pragma once

#include "CopyRequest.h"
#include "SqlLoader.h"
#include "modWaitProc.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <memory>
#include <vector>

class QLockFile;

namespace velmar {

// What a look for a database found. Unknown: the server could not be asked (the reason has been
// shown), which is never taken for a missing database.
enum class DbPresence { Missing, Present, Unknown };

// The stages of a running copy, for progress displays.
enum class CopyStage { Idle, CheckSource, CheckTarget, Dump, Rewrite, Import, ForeignKeys, Grants, Done };

// One copy from a source server onto the local server. Widget-free: it talks to the user only
// through the messenger (message boxes, questions, AddLog) and reports progress by signal.
// ProcCopy blocks its caller's thread until the job ends; CopyTask runs it on a worker thread.
class CopyJob : public QObject {
    Q_OBJECT
public:
    explicit CopyJob(CopyRequest request, QObject *parent = nullptr);
    ~CopyJob() override;

    // The derived names of the request.
    QString SourceDBName() const { return m_request.SourceDBName(); }
    QString NewDBName() const { return m_request.NewDBName(); }
    QString NewUserName() const { return m_request.NewUserName(); }

    // Runs the ticked stages; true after "복사완료", false when the job stopped.
    bool ProcCopy();

    // Stops the job at once from any thread: the running program is killed and no later step
    // runs. Nothing that existed before the copy is lost.
    void cancel();
    bool isCancelled() const { return m_cancel.load(); }

    // The stages, public for their tests.
    // With deleteIfExists, Present means the database stays (not dropped), Missing that it is gone
    // or will be dropped once the new dump is ready.
    DbPresence IsExistDB(const QString &host, const QString &dbName, bool deleteIfExists);
    bool SETP_DBDump();
    bool STEP_EditSQLFile();
    bool SETP_DBImport();
    bool AddUser();
    qint32 ExecSQLLog(const QString &statement);

    // <program folder>/dump, or userDumpFolder() once a copy has found the former unwritable.
    QString dumpFolder() const;
    // The name is made safe as a file name with dumpFileBaseName.
    QString dumpFilePath() const;    // <dump folder>/<SourceDBName>.sql
    QString editedFilePath() const;  // <dump folder>/<SourceDBName>_2.sql
    // <dump folder>/<SourceDBName>.charset: the source's default character set and collation,
    // kept beside the dump for an import without a dump.
    QString charsetFilePath() const;

    const CopyRequest &request() const { return m_request; }

signals:
    void stageStarted(velmar::CopyStage stage);
    // done and total in bytes (total -1 when unknown); bytesPerSecond over the stage so far.
    void progress(velmar::CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);
    // The window moves the focus here (after the missing-source message).
    void focusRequested(velmar::FieldId field);

private:
    bool runStages();
    // Settles the dump folder (created when missing) before anything runs.
    void prepareDumpFolder();
    // Locks this copy's dump files and new database against another copy running at the same
    // time; false (the reason shown) when another copy holds one. A crashed copy's lock is stale.
    bool claimFiles(std::vector<std::unique_ptr<QLockFile>> &locks);
    bool goesOn(bool stepSucceeded);
    // Announces a stage (and its log line, when it has one) and runs it, unless cancelled.
    bool runStep(CopyStage stage, const QString &logLine, bool (CopyJob::*step)());
    // Whether the database exists on host (the shared connection is open); Unknown after a
    // failed look.
    DbPresence databaseExists(const QString &dbName);
    // The local database may be replaced: asked unless the user chose to drop without asking.
    bool replaceConsented(const QString &dbName);
    bool dropTarget();
    bool dropOpenTarget();  // the shared connection is open
    // Drops the staging database a crashed copy of this target left (shared connection open).
    bool removeLeftoverStaging();
    // The first column of a statement's rows (shared connection open); ok: the statement ran.
    QStringList column(const QString &sql, bool *ok = nullptr);
    // The local database's replacement loads beside it; false: the user chose to stop.
    bool roomBesideOld(qint64 bytes);
    qint64 localRoom(QString *folder);  // free bytes in the local server's data folder, -1 unknown
    // The import of a full copy loads the dump while it is being written, unless an existing
    // database is replaced and the server's folder may lack room for both.
    bool importCanFollowDump();
    bool startFollowingImport();  // the dump has begun to write: rewrite and load follow it
    void abandonFollowingImport();  // the copy stopped before the import took it over
    bool createDatabase(const QString &database);
    // Loads the rewritten dump with velmar's loader (the mysql client for a file of client
    // commands); false when cancelled, an error is raised.
    bool loadDump(const QString &file, const QString &database);
    LoadOptions loadOptions();  // the import's connections, cancel and progress
    QString loadDatabase(bool staged) const;  // the staging database or the new one
    LoadResult followedImportResult(const QString &file);  // then the file is in its place
    // Runs the dump on a thread of its own and, from its first output, loads what it writes.
    RunResult dumpWhileLoading(const QString &program, const QStringList &arguments, RunOptions options,
                               std::exception_ptr &followError);
    QString foreignKeyScript() const;
    bool runForeignKeys(const QString &script, const QString &database);
    bool runClient(const QString &inputFile, const QString &database, CopyStage stage, bool logCommand = true);
    QString clientCommandLine(const QString &inputFile, const QString &database) const;
    // Drops what a load that did not finish created.
    void discardLoad(const QString &database, bool staging);
    // Replaces the user's database by the loaded staging database: drop, create, move the
    // tables, create the views, triggers, routines and events from the file.
    bool swapIn(const QString &staging);
    // Reads the source database's default character set and collation (connection open).
    void readSourceCharset(const QString &dbName);
    bool saveSourceCharset();
    // The character set and collation clause for the new database, when this copy or the dump
    // it loads knows the source's; empty for the server's default.
    QString sourceCharsetClause();

    CopyRequest m_request;
    QString m_dumpFolder;  // settled by prepareDumpFolder
    QString m_sourceCharset;  // "<character set> <collation>", when the source check read them
    QString m_leftOut;        // what the dump options leave out of the source, when anything
    std::atomic_bool m_cancel{false};
    bool m_replaceExisting = false;  // the user agreed to replace the existing local database
    std::atomic_bool m_swapping{false};  // the replaced database is being swapped for its copy
    bool m_cancelLogged = false;
    qint64 m_sourceBytes = -1;  // the source database's data and index size, when read
    bool m_followDump = false;  // this copy's import follows its dump
    struct FollowingImport;
    std::unique_ptr<FollowingImport> m_following;
    // Why the copy stopped when no message box said it (the answer No to the drop question).
    QString m_stopReason;
};

// Appends one entry to the log (the log window, velmar-cli's output, a test's record).
void AddLog(const QString &line);

// "hh:mm:ss"; hours keep counting past 24.
QString formatElapsed(qint64 milliseconds);

}  // namespace velmar
