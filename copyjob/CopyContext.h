#pragma once

#include "CopyRequest.h"
#include "SqlLoader.h"
#include "TableFingerprint.h"
#include "modMySQL_Func_lite.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace velmar {

// What a look for a database found. Unknown: the server could not be asked (the reason has been
// shown), which is never taken for a missing database.
enum class DbPresence { Missing, Present, Unknown };

// The stages of a running copy, for progress displays.
enum class CopyStage { Idle, CheckSource, CheckTarget, Dump, Rewrite, Import, ForeignKeys, Grants, WaitSessions, Done };

// What the target check decided for the local database of the new name: the copy stops (the
// database stays), it loads into a new database, or it loads beside the existing one and then
// replaces it.
enum class TargetDecision { Stop, LoadNew, Replace };

// What the source check learned of the source database.
struct SourceFacts {
    QString charset;    // "<character set> <collation>", when read
    qint64 bytes = -1;  // data and index size, when read
    QString leftOut;    // what the dump options leave out of the source, when anything
    // A source elsewhere than on this machine: what its link measured, and whether the dump asks
    // for the protocol's compression.
    QString linkLine;
    bool compress = false;
    // The server and what the database uses that another server may lack, when read.
    QString version;                  // "10.11.6-MariaDB (mariadb.org binary distribution)"
    QStringList collations;           // of the database, its tables, columns and objects
    QStringList engines;
    QStringList definers;             // "user@host", as information_schema writes them
    QStringList kinds;                // table types besides tables and views (SEQUENCE, ...)
    QStringList types;                // MariaDB's own column types in use (uuid, inet4, inet6)
};

// What the local server is and has, read before anything is dropped or loaded.
struct LocalFacts {
    QString version;
    bool mariadb = false;
    bool mysql8 = false;  // MySQL 8 or later
    QSet<QByteArray> collations;
    QSet<QByteArray> engines;    // upper case
    QSet<QByteArray> accounts;   // "user@host"
};

// The administrator account of the local and source servers, and the password every granted
// account gets.
inline const QString kRootUser = QStringLiteral("root");
inline const QString kRootPassword = QStringLiteral("wexrolp");
inline const QString kGrantPassword = QStringLiteral("tq582914");
inline const QString kLocalHost = QStringLiteral("localhost");

// The units the procedures of a copy belong to, as error boxes name them.
inline const QString kModMain = QStringLiteral("Module modMain");
inline const QString kFormMain = QStringLiteral("Form FrmMain");

// What a refresh of the changed tables only does with the local database's tables.
struct ChangePlan {
    struct Change {
        QString table;
        ChangeReason reason;
    };
    std::vector<Change> changes;  // in the source's order, then the dropped ones
    QStringList unchanged;        // tables the dump leaves out and the swap leaves alone
    // Unchanged tables whose AUTO_INCREMENT counter differs, and the source's counter.
    std::vector<std::pair<QString, QString>> counters;
    bool triggers = true;  // the source has triggers (which the dump then takes from every table)
    QHash<QString, QString> sourceCreate;  // every source table's SHOW CREATE TABLE
    QStringList dropped() const;  // local tables the source no longer has
};

// What every stage of one copy shares: the request, the dump files, the cancel token, the way to
// the local server and what the checks found. A stage reads it and records what it learned; it
// reports progress through the two callbacks, which the copy job turns into its signals.
class CopyContext {
public:
    explicit CopyContext(CopyRequest request);

    CopyRequest request;
    std::atomic_bool cancel{false};
    // The user's database has been replaced by its copy.
    bool replaced = false;
    // Why the copy stopped when no message box said it (a question answered No).
    QString stopReason;
    SourceFacts source;
    LocalFacts local;
    // The changes the load makes on the way (none until the server check has built it).
    std::shared_ptr<load::StatementAdapter> adapter;
    TargetDecision target = TargetDecision::LoadNew;
    // Set once the comparison has found which tables changed: the dump, the load and the swap
    // then work on those alone.
    std::optional<ChangePlan> changes;

    std::function<void(CopyStage)> stageStarted;
    // done and total in bytes (total -1 when unknown); bytesPerSecond over the stage so far.
    std::function<void(CopyStage, qint64 done, qint64 total, double bytesPerSecond)> progress;

    bool isCancelled() const { return cancel.load(); }
    // Cancels from any thread: a statement or connect waiting on a silent server returns at once,
    // unless the user's database is being changed (see beginChanging).
    void requestCancel();
    // The user's database is about to be dropped or swapped: false when a cancel came first.
    // From true on, a cancel waits for endChanging: stopped half-way, the change would leave
    // neither database whole.
    bool beginChanging();
    void endChanging() { m_changing.store(false); }
    // A connection of a stage's own that a cancel gives up as it does the shared one (at once
    // when the cancel came first); the stage takes it back before the connection goes.
    void addCancellable(cMySQL *connection);
    void removeCancellable(cMySQL *connection);
    void startStage(CopyStage stage) const;
    void report(CopyStage stage, qint64 done, qint64 total, const QElapsedTimer &since) const;

    QString SourceDBName() const { return request.SourceDBName(); }
    QString NewDBName() const { return request.NewDBName(); }
    QString NewUserName() const { return request.NewUserName(); }

    // <program folder>/dump, or userDumpFolder() once settleDumpFolder has found the former
    // unwritable. The names are made safe as file names with dumpFileBaseName.
    QString dumpFolder() const;
    // <dump folder>/<SourceDBName>.sql and _2.sql; a dump of the changed tables only is
    // <SourceDBName>@changed.sql and @changed_2.sql, which no full dump's name can be (the base
    // name writes every "@" of a database name as "@0040").
    QString dumpFilePath() const;
    QString editedFilePath() const;
    // <dump folder>/<SourceDBName>.charset: the source's default character set and collation,
    // kept beside the dump for an import without a dump.
    QString charsetFilePath() const;
    // <dump folder>/<NewDBName>.newdb.tables: what the last refresh saw of each table's
    // definition on both servers (see DefinitionRecord).
    QString definitionsFilePath() const;
    // The source a definitions record belongs to: "host/database".
    QString sourceIdentity() const;
    // Settles the dump folder (created when missing) before anything runs.
    void settleDumpFolder();

    // Every connection to the local server is root's, with no default database; a cancellable one
    // returns at a cancel instead of at its timeout.
    SharedConnection localConnection(bool cancellable = true);
    // The local database a load goes into, reached as root.
    LoadTarget localTarget(const QString &database) const;
    // The staging database a load goes into: the new database takes its tables only once they
    // are all in, so a load that stops never leaves half a database under the user's name.
    QString loadDatabase() const;
    // The import's connections, cancel and progress.
    LoadOptions loadOptions();

private:
    QString m_dumpFolder;
    std::atomic_bool m_changing{false};
    std::mutex m_cancelLock;  // orders a cancel against the start of a change
    std::vector<cMySQL *> m_cancellable;
};

// A character set and collation pair as the server names them ("utf8mb4 utf8mb4_general_ci"):
// letters, digits and "_" only.
bool isCharsetPair(const QString &text);
// The first column of a statement's rows (shared connection open); ok: the statement ran (a
// failure has been shown).
QStringList column(const QString &sql, bool *ok = nullptr);
// A statement on the shared connection that may fail without a box (a server without the asked
// table, a lock that did not come in time); error gets the server's number, text its message.
std::unique_ptr<Recordset> quietRows(const QString &sql, qint32 *error = nullptr, QString *text = nullptr);
// The server's answer when a lock did not come within the session's lock_wait_timeout.
constexpr qint32 kLockWaitTimeout = 1205;
// How long one try to drop or move the user's database waits for another connection's lock
// before it looks again (and at a cancel): the server's shortest.
constexpr int kLockWaitSeconds = 1;
// Whether exactly this database exists (shared connection open); Unknown after a failed look.
DbPresence databaseExists(const QString &dbName);

}  // namespace velmar
