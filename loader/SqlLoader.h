#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace velmar {

class GrowingFile;
struct SqlStatement;
namespace load {
class StatementAdapter;
}

// The server and database a file is loaded into. host "localhost" is the Unix socket the client
// library finds itself (MYSQL_UNIX_PORT); "name:port" and "[v6]:port" go over TCP.
struct LoadTarget {
    QString host = QStringLiteral("localhost");
    QString user;
    QString password;
    QString database;
};

struct LoadOptions {
    int connections = 0;                       // 0: defaultImportConnections()
    const std::atomic_bool *cancel = nullptr;  // set from another thread
    // The file's bytes loaded so far and its size; called on the thread that called
    // loadSqlFile, a few times a second and once at the end of a successful load.
    std::function<void(qint64 doneBytes, qint64 totalBytes)> progress;
    // When set, only the statements it accepts are sent (the rest are passed over as the
    // locks are); the client commands are looked for all the same.
    std::function<bool(const SqlStatement &)> filter;
    // When set, the file is still being written: the load follows it, and its readers wait at
    // the written end until the writing has ended (a failed writing fails the load). Its size
    // reaches progress as -1 until then.
    std::shared_ptr<GrowingFile> growing;
    // When set, every statement passes through it on its way to the server: what the local server
    // would refuse of another server's dump is changed or left out there.
    std::shared_ptr<load::StatementAdapter> adapter;
};

// Where a load's time went, in milliseconds; the connections' figures are added up over them.
struct LoadFigures {
    qint64 totalMs = 0;
    qint64 rowsMs = 0;          // sending rows
    qint64 keysMs = 0;          // building the keys held back from the tables
    qint64 foreignKeysMs = 0;   // adding their foreign keys
    int keyTables = 0;          // tables whose keys were built after their rows
    qint64 afterRowsMs = 0;     // from the last rows in to the end: keys and the file's last statements
    qint64 dumpWaitMs = 0;      // the reading waited for a file still being written
};

struct LoadResult {
    enum class Outcome { Loaded, Cancelled, Failed, NeedsClient };
    Outcome outcome = Outcome::Failed;
    // Failed: ready for a message box, e.g. "ERROR 1064 (42000) at line 1234: You have an
    // error ..."; NeedsClient: the client command found and its line (the statements before it
    // may have been sent: see statements).
    QString message;
    qint64 statements = 0;  // statements sent
    int connections = 0;    // connections really used
    qint64 asData = 0;      // row INSERTs the server read as LOAD DATA
    unsigned errorNumber = 0;  // Failed: the server's or the client library's error number, if any
    LoadFigures figures;
};

// The connections a load uses by default: one more than the processor's threads (3 on 2 cores,
// where 3 measured best), at most 6, since rows of one table contend inside the server.
int defaultImportConnections();

// Loads an SQL file (a dump as mysqldump writes it, with or without velmar's head and tail)
// with the same outcome as "mysql --database=<database> < path", spreading the rows over several
// connections. Blocks until the load ends; the database must exist. Nothing at or after a client
// command is sent.
LoadResult loadSqlFile(const QString &path, const LoadTarget &target, const LoadOptions &options);

}  // namespace velmar
