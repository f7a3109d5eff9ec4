#include "SqlStatementReader.h"

#include <QIODevice>

#include <cstring>
#include <utility>
#include <vector>

namespace velmar {

namespace {

constexpr qint64 kBlockSize = 1 << 20;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The bytes that may start something outside quotes: a quote, an escape, a comment. Every other
// byte (a row's digits, commas, parentheses) is taken as it is, many at a time.
struct PlainBytes {
    bool plain[256];
    constexpr PlainBytes() : plain()
    {
        for (int c = 0; c < 256; ++c)
            plain[c] = !(c == '\'' || c == '"' || c == '`' || c == '\\' || c == '#' || c == '-' || c == '/');
    }
};
constexpr PlainBytes kPlain;

bool isWordChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
           || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

bool sameWord(const QByteArray &word, const char *upper)
{
    return word.compare(upper, Qt::CaseInsensitive) == 0;
}

// The commands the client runs itself when a line starts with them and no statement is open.
// Those that only change the client's own display are harmless here; every other one needs the
// client.
const char *const kHarmlessCommands[] = {"go", "ego", "warnings", "nowarning", "rehash"};
const char *const kClientCommands[] = {"help", "clear", "connect", "edit", "exit", "nopager",
                                       "notee", "pager", "print", "prompt", "quit",
                                       "resetconnection", "source", "status", "system", "tee",
                                       "charset"};

// The leading words of statement text, as the server would read them: executable comments the
// server runs are unwrapped, the others skipped; names lose their backquotes.
struct Token {
    QByteArray text;
    bool quoted = false;  // a backquoted name or a string
};

std::vector<Token> leadingTokens(const QByteArray &sql, unsigned long serverVersion, int limit)
{
    std::vector<Token> out;
    const char *p = sql.constData();
    const qsizetype n = std::min<qsizetype>(sql.size(), 64 * 1024);
    qsizetype i = 0;
    while (i < n && int(out.size()) < limit) {
        const char c = p[i];
        if (isSpace(c)) {
            ++i;
        } else if (c == '/' && i + 2 < n && p[i + 1] == '*'
                   && (p[i + 2] == '!' || (p[i + 2] == 'M' && i + 3 < n && p[i + 3] == '!'))) {
            i += p[i + 2] == '!' ? 3 : 4;
            unsigned long version = 0;
            int digits = 0;
            while (i < n && digits < 6 && p[i] >= '0' && p[i] <= '9') {
                version = version * 10 + unsigned(p[i] - '0');
                ++i;
                ++digits;
            }
            if (version > serverVersion) {
                // A comment to this server: skip it whole.
                while (i + 1 < n && !(p[i] == '*' && p[i + 1] == '/'))
                    ++i;
                i += 2;
            }
        } else if (c == '*' && i + 1 < n && p[i + 1] == '/') {
            i += 2;
        } else if (c == '`' || c == '\'' || c == '"') {
            Token t;
            t.quoted = true;
            ++i;
            while (i < n) {
                if (p[i] == c) {
                    if (i + 1 < n && p[i + 1] == c) {
                        t.text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (c != '`' && p[i] == '\\' && i + 1 < n) {
                    t.text += p[i + 1];
                    i += 2;
                    continue;
                }
                t.text += p[i++];
            }
            out.push_back(std::move(t));
        } else if (isWordChar(c) || (c == '@' && i + 1 < n && (isWordChar(p[i + 1]) || p[i + 1] == '@'))) {
            const qsizetype s = i;
            ++i;
            while (i < n && (isWordChar(p[i]) || p[i] == '@' || p[i] == '.'))
                ++i;
            out.push_back(Token{QByteArray(p + s, i - s), false});
        } else {
            out.push_back(Token{QByteArray(1, c), false});
            ++i;
        }
    }
    return out;
}

// The table name starting at tokens[i] ("db.t", `db`.`t`, `t`): the last part.
QByteArray tableName(const std::vector<Token> &t, size_t i)
{
    if (i >= t.size())
        return QByteArray();
    QByteArray name = t[i].text;
    if (!t[i].quoted && name.contains('.'))
        name = name.mid(name.lastIndexOf('.') + 1);
    // `db`.`t`: the tokenizer gives `db`, ".", `t`; "db.`t`" gives "db." then `t`.
    if (i + 2 < t.size() && t[i + 1].text == "." && !t[i + 1].quoted)
        return t[i + 2].text;
    if (!t[i].quoted && t[i].text.endsWith('.') && i + 1 < t.size())
        return t[i + 1].text;
    return name;
}

using Kind = SqlStatement::Kind;

// Whether t[i] is the word w, unquoted.
bool isWord(const std::vector<Token> &t, size_t i, const char *w)
{
    return i < t.size() && !t[i].quoted && sameWord(t[i].text, w);
}

// SET: a setting of this session, unless it sets a global, a password, a role or the like.
Kind setKind(const std::vector<Token> &t)
{
    if (isWord(t, 1, "GLOBAL") || isWord(t, 1, "PASSWORD") || isWord(t, 1, "ROLE") || isWord(t, 1, "DEFAULT")
        || isWord(t, 1, "STATEMENT") || (t.size() > 1 && t[1].text.startsWith("@@global.")))
        return Kind::Other;
    return Kind::SessionSetting;
}

// After a column list, only VALUES makes a plain row insert (not INSERT ... SELECT). The list may
// be long: the whole text is read up to its closing parenthesis.
bool valuesAfterColumns(const QByteArray &text, unsigned long serverVersion)
{
    const std::vector<Token> all = leadingTokens(text, serverVersion, 1 << 16);
    size_t i = 0;
    int depth = 0;
    bool seenOpen = false;
    for (; i < all.size(); ++i) {
        if (all[i].quoted)
            continue;
        if (all[i].text == "(") {
            ++depth;
            seenOpen = true;
        } else if (all[i].text == ")" && --depth == 0 && seenOpen) {
            ++i;
            break;
        }
    }
    return isWord(all, i, "VALUES") || isWord(all, i, "VALUE");
}

// INSERT or REPLACE: a row insert into table when VALUES follow the table (and its column list).
Kind insertKind(const std::vector<Token> &t, const QByteArray &text, unsigned long serverVersion,
                QByteArray &table)
{
    size_t i = 1;
    while (isWord(t, i, "LOW_PRIORITY") || isWord(t, i, "DELAYED") || isWord(t, i, "HIGH_PRIORITY")
           || isWord(t, i, "IGNORE") || isWord(t, i, "INTO"))
        ++i;
    table = tableName(t, i);
    ++i;
    while (i < t.size() && (t[i].text == "." || (!t[i].quoted && t[i - 1].text.endsWith('.'))))
        ++i;
    if (i < t.size() && t[i].text == "(" && !t[i].quoted)
        return valuesAfterColumns(text, serverVersion) ? Kind::Insert : Kind::Other;
    return isWord(t, i, "VALUES") || isWord(t, i, "VALUE") ? Kind::Insert : Kind::Other;
}

// CREATE: the kind of object, found before any parenthesis (definers and options come first).
Kind createKind(const std::vector<Token> &t, QByteArray &table)
{
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i].text == "(" && !t[i].quoted)
            break;
        if (isWord(t, i, "TABLE")) {
            size_t j = i + 1;
            if (isWord(t, j, "IF") && isWord(t, j + 1, "NOT") && isWord(t, j + 2, "EXISTS"))
                j += 3;
            table = tableName(t, j);
            return Kind::CreateTable;
        }
        if (isWord(t, i, "VIEW"))
            return Kind::CreateView;
        if (isWord(t, i, "TRIGGER"))
            return Kind::CreateTrigger;
        if (isWord(t, i, "PROCEDURE") || isWord(t, i, "FUNCTION"))
            return Kind::CreateRoutine;
        if (isWord(t, i, "EVENT"))
            return Kind::CreateEvent;
        if (isWord(t, i, "INDEX") || isWord(t, i, "DATABASE") || isWord(t, i, "SCHEMA")
            || isWord(t, i, "SEQUENCE") || isWord(t, i, "USER") || isWord(t, i, "ROLE") || isWord(t, i, "SERVER"))
            return Kind::Other;
    }
    return Kind::Other;
}

// DROP [TEMPORARY] TABLE [IF EXISTS] table.
Kind dropKind(const std::vector<Token> &t, QByteArray &table)
{
    size_t i = 1;
    if (isWord(t, i, "TEMPORARY"))
        ++i;
    if (!isWord(t, i, "TABLE"))
        return Kind::Other;
    ++i;
    if (isWord(t, i, "IF") && isWord(t, i + 1, "EXISTS"))
        i += 2;
    table = tableName(t, i);
    return Kind::DropTable;
}

}  // namespace

SqlStatementReader::SqlStatementReader(QIODevice *device) : m_device(device) {}

SqlStatementReader::~SqlStatementReader() = default;

SqlStatement::Kind SqlStatementReader::classify(const QByteArray &text, QByteArray *name,
                                                unsigned long serverVersion)
{
    const std::vector<Token> t = leadingTokens(text, serverVersion, 48);
    if (t.empty())
        return Kind::Other;
    if (isWord(t, 0, "SET"))
        return setKind(t);
    if (isWord(t, 0, "COMMIT") || isWord(t, 0, "ROLLBACK") || (isWord(t, 0, "BEGIN") && !isWord(t, 1, "NOT"))
        || (isWord(t, 0, "START") && isWord(t, 1, "TRANSACTION")))
        return Kind::Transaction;
    if (isWord(t, 0, "LOCK") && (isWord(t, 1, "TABLES") || isWord(t, 1, "TABLE")))
        return Kind::LockTables;
    if (isWord(t, 0, "UNLOCK") && (isWord(t, 1, "TABLES") || isWord(t, 1, "TABLE")))
        return Kind::UnlockTables;
    if (isWord(t, 0, "USE") && t.size() > 1) {
        if (name)
            *name = t[1].text;
        return Kind::Use;
    }
    // The kinds that name a table; name is left alone for the others.
    QByteArray table;
    Kind kind = Kind::Other;
    if (isWord(t, 0, "INSERT") || isWord(t, 0, "REPLACE"))
        kind = insertKind(t, text, serverVersion, table);
    else if (isWord(t, 0, "CREATE"))
        kind = createKind(t, table);
    else if (isWord(t, 0, "DROP"))
        kind = dropKind(t, table);
    if (name && (kind == Kind::Insert || kind == Kind::CreateTable || kind == Kind::DropTable))
        *name = table;
    return kind;
}

bool SqlStatementReader::next(SqlStatement &statement)
{
    while (m_ready.empty()) {
        if (!m_error.isEmpty())
            return false;
        const char *line = nullptr;
        // Find the next line end in the block, reading more as needed.
        qsizetype end = -1;
        qsizetype scanned = m_blockPos;  // a long line is searched once, not again per block
        for (;;) {
            const char *base = m_block.constData() + scanned;
            const void *nl = std::memchr(base, '\n', size_t(m_block.size() - scanned));
            if (nl) {
                end = static_cast<const char *>(nl) - m_block.constData();
                break;
            }
            scanned = m_block.size();
            if (m_eof)
                break;
            if (m_blockPos > 0) {
                m_block.remove(0, m_blockPos);
                scanned -= m_blockPos;
                m_blockPos = 0;
            }
            const qsizetype old = m_block.size();
            m_block.resize(old + kBlockSize);
            const qint64 got = m_device->read(m_block.data() + old, kBlockSize);
            if (got < 0) {
                m_error = m_device->errorString();
                m_block.resize(old);
                return false;
            }
            m_block.resize(old + got);
            if (got == 0)
                m_eof = true;
        }
        line = m_block.constData() + m_blockPos;
        const qint64 lineOffset = m_consumed;
        if (end >= 0) {
            const qsizetype len = end - m_blockPos;
            ++m_lineNumber;
            processLine(line, len, lineOffset);
            m_consumed += len + 1;
            m_blockPos = end + 1;
        } else {
            const qsizetype len = m_block.size() - m_blockPos;
            if (len > 0) {
                ++m_lineNumber;
                processLine(line, len, lineOffset);
                m_consumed += len;
            }
            m_block.clear();
            m_blockPos = 0;
            finishStatement(m_consumed);  // the client sends what is left at the end
            if (m_ready.empty())
                return false;
        }
    }
    statement = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

void SqlStatementReader::appendRun(const char *p, qsizetype n, qint64 fileOffset)
{
    if (m_text.isEmpty()) {
        m_startLine = m_lineNumber;
        m_startOffset = fileOffset;
        m_startsLine = fileOffset == m_lineOffset;
    }
    m_text.append(p, n);
}

void SqlStatementReader::finishStatement(qint64 endOffset)
{
    if (m_text.isEmpty())
        return;
    SqlStatement s;
    s.text = std::exchange(m_text, QByteArray());
    s.line = m_startLine;
    s.offset = m_startOffset;
    s.atLineStart = m_startsLine;
    s.endOffset = endOffset;
    s.kind = classify(s.text, &s.name, m_serverVersion);
    noteSqlMode(s);
    m_ready.push_back(std::move(s));
}

void SqlStatementReader::emitCommand(const QByteArray &command, qint64 offset, qint64 endOffset)
{
    SqlStatement s;
    s.kind = SqlStatement::Kind::ClientCommand;
    s.command = command.trimmed();
    s.line = m_lineNumber;
    s.offset = offset;
    s.endOffset = endOffset;
    m_ready.push_back(std::move(s));
}

// The client reads strings by the session's sql_mode (NO_BACKSLASH_ESCAPES, ANSI_QUOTES) as the
// server last reported it. The reader follows the SET statements that name sql_mode instead, so
// that a pre-scan and the load cut the file alike; dumps only ever restore their own mode.
void SqlStatementReader::noteSqlMode(const SqlStatement &s)
{
    if (s.kind != SqlStatement::Kind::SessionSetting)
        return;
    const QByteArray upper = s.text.left(4096).toUpper();
    if (!upper.contains("SQL_MODE"))
        return;
    m_noBackslashEscapes = upper.contains("NO_BACKSLASH_ESCAPES");
    m_ansiQuotes = upper.contains("ANSI_QUOTES") || upper.contains("'ANSI") || upper.contains(",ANSI'")
                   || upper.contains(",ANSI,") || upper.contains("ORACLE") || upper.contains("POSTGRESQL")
                   || upper.contains("MSSQL") || upper.contains("DB2") || upper.contains("MAXDB");
}

bool SqlStatementReader::namedCommand(const char *p, qsizetype n, qint64 lineOffset)
{
    qsizetype i = 0;
    while (i < n && isSpace(p[i]))
        ++i;
    const qsizetype s = i;
    while (i < n && ((p[i] >= 'a' && p[i] <= 'z') || (p[i] >= 'A' && p[i] <= 'Z')))
        ++i;
    if (i == s || (i < n && !isSpace(p[i]) && p[i] != ';'))
        return false;
    const QByteArray word = QByteArray(p + s, i - s).toLower();
    const qint64 endOffset = lineOffset + n;
    auto argument = [&]() {
        qsizetype j = i;
        while (j < n && isSpace(p[j]))
            ++j;
        QByteArray arg;
        if (j < n && (p[j] == '`' || p[j] == '\'' || p[j] == '"')) {
            const char q = p[j++];
            while (j < n) {
                if (p[j] == q) {
                    if (q == '`' && j + 1 < n && p[j + 1] == q) {
                        arg += q;
                        j += 2;
                        continue;
                    }
                    break;
                }
                arg += p[j++];
            }
            return arg;
        }
        while (j < n && !isSpace(p[j]))
            arg += p[j++];
        return arg;
    };

    if (word == "delimiter") {
        const QByteArray d = argument();
        if (!d.isEmpty())
            m_delimiter = d;
        return true;
    }
    if (word == "use") {
        QByteArray db = argument();
        if (db.endsWith(m_delimiter))
            db.chop(m_delimiter.size());
        SqlStatement st;
        st.kind = SqlStatement::Kind::Use;
        st.name = db;
        st.command = QByteArray(p + s, n - s).trimmed();
        st.text = st.command;
        st.line = m_lineNumber;
        st.offset = lineOffset + s;
        st.endOffset = endOffset;
        m_ready.push_back(std::move(st));
        return true;
    }
    for (const char *h : kHarmlessCommands) {
        if (word == h)
            return true;
    }
    for (const char *c : kClientCommands) {
        if (word == c) {
            emitCommand(QByteArray(p + s, n - s), lineOffset + s, endOffset);
            return true;
        }
    }
    return false;
}

bool SqlStatementReader::resumePoint(const SqlStatement &statement, ResumePoint &point) const
{
    if (!statement.atLineStart || !m_ready.empty() || !m_text.isEmpty() || m_quote || m_mlComment)
        return false;
    point = ResumePoint{statement.offset, statement.line, m_delimiter, m_noBackslashEscapes, m_ansiQuotes};
    return true;
}

void SqlStatementReader::resumeAt(const ResumePoint &point)
{
    m_block.clear();
    m_blockPos = 0;
    m_eof = false;
    m_consumed = point.offset;
    m_lineNumber = point.line - 1;
    m_delimiter = point.delimiter;
    m_noBackslashEscapes = point.noBackslashEscapes;
    m_ansiQuotes = point.ansiQuotes;
    m_text.clear();
    m_quote = 0;
    m_mlComment = false;
    m_ready.clear();
}

// One line as processLine cuts it: how far it has got, and what of it is still to be copied into
// the statement.
struct SqlStatementReader::LineScan {
    const char *p;
    qsizetype n;
    qint64 lineOffset;
    const char *delimiter;
    qsizetype delimiterSize;
    qsizetype i = 0;
    qsizetype run = 0;  // first byte not yet copied into the statement
    // As the client does, a comment closed on this line is replaced by a space when the next
    // byte sent is not one already ("1/* c */,2" is sent as "1 ,2").
    bool needSpace = false;
};

// The steps the loop below takes for every quoted value and run of plain bytes are inline: as
// calls they cost the reading of a dump's rows some 4%.
void SqlStatementReader::processLine(const char *p, qsizetype n, qint64 lineOffset)
{
    m_lineOffset = lineOffset;
    if (n > 0 && p[n - 1] == '\r')
        --n;
    if (m_text.isEmpty() && !m_quote && !m_mlComment && namedCommand(p, n, lineOffset))
        return;

    LineScan l{p, n, lineOffset, m_delimiter.constData(), m_delimiter.size()};
    while (l.i < l.n) {
        if (m_mlComment)
            passComment(l);
        else if (m_quote)
            passQuoted(l);
        else
            scanCode(l);
    }
    flushRun(l, l.n);
    if (!m_mlComment && !m_text.isEmpty())
        m_text += '\n';
}

inline void SqlStatementReader::flushRun(LineScan &l, qsizetype end)
{
    if (end > l.run)
        appendRun(l.p + l.run, end - l.run, l.lineOffset + l.run);
    l.run = end;
}

// Inside /* ... */: up to its close, which may be on a later line. Nothing of it is sent.
inline void SqlStatementReader::passComment(LineScan &l)
{
    const char *close = nullptr;
    for (qsizetype j = l.i; j + 1 < l.n; ++j) {
        if (l.p[j] == '*' && l.p[j + 1] == '/') {
            close = l.p + j;
            break;
        }
    }
    if (!close) {
        l.i = l.run = l.n;
        return;
    }
    m_mlComment = false;
    l.needSpace = true;
    l.i = l.run = (close - l.p) + 2;
}

// Inside quotes: up to the closing quote, which may be on a later line; sent as it is.
inline void SqlStatementReader::passQuoted(LineScan &l)
{
    const bool escapes = m_quote != '`' && !m_noBackslashEscapes && !(m_quote == '"' && m_ansiQuotes);
    const char *p = l.p;
    const qsizetype n = l.n;
    qsizetype i = l.i;
    while (i < n) {
        const char c = p[i];
        if (c == m_quote) {
            m_quote = 0;
            ++i;
            break;
        }
        i += (c == '\\' && escapes) ? 2 : 1;
    }
    l.i = i > n ? n : i;
}

// Outside quotes and comments: past the bytes taken as they are, then what the next byte does.
inline void SqlStatementReader::scanCode(LineScan &l)
{
    // Past the statement's start and any comment, up to the next byte that may matter.
    if (!l.needSpace && (l.run < l.i || !m_text.isEmpty())) {
        const char *p = l.p;
        const qsizetype n = l.n;
        const char d0 = l.delimiter[0];
        qsizetype i = l.i;
        while (i < n && kPlain.plain[uchar(p[i])] && p[i] != d0)
            ++i;
        l.i = i;
        if (i == n)
            return;
    }
    codeByte(l);
}

// The byte scanCode stopped at: a blank before the statement, a client command, the delimiter, a
// comment, an opening quote, or a byte after a comment.
void SqlStatementReader::codeByte(LineScan &l)
{
    const qsizetype i = l.i;
    const char c = l.p[i];
    if (l.run == i && m_text.isEmpty() && isSpace(c)) {
        l.run = ++l.i;
        return;
    }
    if (c == '\\') {
        clientEscape(l);
        return;
    }
    if (c == l.delimiter[0] && l.n - i >= l.delimiterSize
        && std::memcmp(l.p + i, l.delimiter, size_t(l.delimiterSize)) == 0) {
        flushRun(l, i);
        l.i = l.run = i + l.delimiterSize;
        finishStatement(l.lineOffset + l.i);
        return;
    }
    if (commentStarts(l))
        return;
    if (l.needSpace) {
        l.needSpace = false;
        // (Not at a statement's start: the server drops leading blanks anyway.)
        if (!isSpace(c) && (l.run < i || !m_text.isEmpty())) {
            flushRun(l, i);
            appendRun(" ", 1, l.lineOffset + i);
        }
    }
    if (c == '\'' || c == '"' || c == '`')
        m_quote = c;
    ++l.i;
}

// A backslash outside quotes: \N (NULL) is sent as written, the rest are the client's own.
void SqlStatementReader::clientEscape(LineScan &l)
{
    const qsizetype i = l.i;
    if (i + 1 >= l.n) {
        ++l.i;
        return;
    }
    const char k = l.p[i + 1];
    if (k == 'N') {
        l.i += 2;
        return;
    }
    flushRun(l, i);
    if (k == 'g' || k == 'G') {  // the client's "go": ends the statement
        l.i = l.run = i + 2;
        finishStatement(l.lineOffset + l.i);
        return;
    }
    if (k == '-') {  // the client's sandbox switch (newer dumps' first line): not sent
        l.i = l.run = i + 2;
        return;
    }
    emitCommand(QByteArray(l.p + i, l.n - i), l.lineOffset + i, l.lineOffset + l.n);
    l.i = l.run = l.n;
}

// A comment that starts here, dropped: "#" or "-- " to the line's end, "/*" (but not an executable
// comment) to its close.
bool SqlStatementReader::commentStarts(LineScan &l)
{
    const char *p = l.p;
    const qsizetype n = l.n;
    const qsizetype i = l.i;
    const char c = p[i];
    if (c == '#' || (c == '-' && i + 1 < n && p[i + 1] == '-' && (i + 2 == n || isSpace(p[i + 2])))) {
        flushRun(l, i);
        l.i = l.run = n;
        return true;
    }
    if (c == '/' && i + 1 < n && p[i + 1] == '*'
        && !(i + 2 < n && (p[i + 2] == '!' || (p[i + 2] == 'M' && i + 3 < n && p[i + 3] == '!')))) {
        flushRun(l, i);
        m_mlComment = true;
        l.i = l.run = i + 2;
        return true;
    }
    return false;
}

}  // namespace velmar
