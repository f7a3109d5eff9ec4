#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>

class QIODevice;

namespace velmar {

// One statement of an SQL file as the mysql client would send it to the server.
struct SqlStatement {
    enum class Kind {
        SessionSetting,  // SET ... (NAMES, TIME_ZONE, SQL_MODE, @OLD_... = @@..., AUTOCOMMIT ...)
        Transaction,     // COMMIT, ROLLBACK, BEGIN, START TRANSACTION
        Insert,          // INSERT/REPLACE ... VALUES into `name`
        CreateTable,     // CREATE TABLE `name`
        DropTable,       // DROP TABLE `name`
        LockTables,
        UnlockTables,
        CreateView,
        CreateTrigger,
        CreateRoutine,   // PROCEDURE or FUNCTION
        CreateEvent,
        Use,             // USE `name` (the client's command or the statement)
        ClientCommand,   // a command the client runs itself: source, system, \!, connect ...
        Other,
    };

    // The bytes sent: comments removed as the client removes them, executable comments
    // (/*!NNNNN ... */, /*M!NNNNNN ... */) kept, no delimiter.
    QByteArray text;
    qint64 line = 0;       // 1-based line of the statement's first byte
    qint64 offset = 0;     // byte offset of that byte in the file
    qint64 endOffset = 0;  // byte offset just past the statement's delimiter (or line)
    bool atLineStart = false;  // its first byte starts a line
    Kind kind = Kind::Other;
    // Insert, CreateTable, DropTable: the table; Use: the database (unquoted, UTF-8 bytes).
    QByteArray name;
    // ClientCommand: the command as written, e.g. "source x.sql" or "\\!".
    QByteArray command;
};

// Cuts an SQL file into statements exactly as the mysql client does for what mysqldump and
// mariadb-dump write: both quote kinds with backslash escapes, backquoted names, "--", "#" and
// "/* */" comments (dropped), executable comments (kept), the DELIMITER command, the sandbox
// line ("\-" inside it is the client's own command and is not sent), CR LF line ends (the CR
// is dropped). It reads the device in blocks: memory grows only with the longest line.
class SqlStatementReader {
public:
    static constexpr unsigned long kAnyServer = 999998;

    explicit SqlStatementReader(QIODevice *device);
    ~SqlStatementReader();

    // The next statement; false at the end of the file or on a read error (see error()).
    bool next(SqlStatement &statement);
    QString error() const { return m_error; }
    qint64 position() const { return m_consumed; }  // bytes of the file taken so far

    // The server version that decides whether an executable comment holds text for the server
    // (classification only; the text always keeps the comment). Until set, every version but
    // the sandbox line's 999999 runs.
    void setServerVersion(unsigned long version) { m_serverVersion = version; }

    // Where a second reader of the same file takes up reading at a statement's line, in the
    // state this one had there.
    struct ResumePoint {
        qint64 offset = 0;
        qint64 line = 0;
        QByteArray delimiter;
        bool noBackslashEscapes = false;
        bool ansiQuotes = false;
    };
    // For the statement next() returned last: false unless it starts its line and nothing of
    // the file after it has been taken in yet.
    bool resumePoint(const SqlStatement &statement, ResumePoint &point) const;
    // Reads on from point; the device is positioned at point.offset.
    void resumeAt(const ResumePoint &point);
    // Classifies statement text as the reader does (exposed for the loader and the tests).
    static SqlStatement::Kind classify(const QByteArray &text, QByteArray *name,
                                       unsigned long serverVersion = kAnyServer);

private:
    bool readLine(QByteArray &line, qint64 &lineOffset);
    struct LineScan;
    void processLine(const char *p, qsizetype n, qint64 lineOffset);
    void flushRun(LineScan &l, qsizetype end);
    void passComment(LineScan &l);
    void passQuoted(LineScan &l);
    void scanCode(LineScan &l);
    void codeByte(LineScan &l);
    void clientEscape(LineScan &l);
    bool commentStarts(LineScan &l);
    bool namedCommand(const char *p, qsizetype n, qint64 lineOffset);
    void appendRun(const char *p, qsizetype n, qint64 fileOffset);
    void finishStatement(qint64 endOffset);
    void emitCommand(const QByteArray &command, qint64 offset, qint64 endOffset);
    void noteSqlMode(const SqlStatement &s);

    QIODevice *m_device;
    QByteArray m_block;        // read-ahead from the device
    qsizetype m_blockPos = 0;
    bool m_eof = false;
    qint64 m_consumed = 0;     // file offset of m_block[m_blockPos]
    qint64 m_lineNumber = 0;
    QString m_error;

    QByteArray m_delimiter = QByteArrayLiteral(";");
    QByteArray m_text;         // the statement being built
    qint64 m_startLine = 0;
    qint64 m_startOffset = 0;
    qint64 m_lineOffset = 0;   // file offset of the line being processed
    bool m_startsLine = false;
    char m_quote = 0;          // inside '...', "..." or `...`
    bool m_mlComment = false;  // inside /* ... */
    bool m_noBackslashEscapes = false;
    bool m_ansiQuotes = false;
    unsigned long m_serverVersion = kAnyServer;
    std::deque<SqlStatement> m_ready;
};

}  // namespace velmar
