#include "RowsAsData.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

class Cursor {
public:
    explicit Cursor(const QByteArray &text) : p(text.constData()), end(text.constData() + text.size()) {}

    void skipSpace()
    {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    bool atEnd() const { return p == end; }
    bool take(char c)
    {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    // A keyword, case-insensitive, not followed by a name character.
    bool word(const char *w)
    {
        const char *q = p;
        for (; *w; ++w, ++q) {
            if (q == end || (*q | 0x20) != (*w | 0x20))
                return false;
        }
        if (q < end && (isNameChar(*q) || *q == '`'))
            return false;
        p = q;
        return true;
    }
    static bool isNameChar(char c)
    {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$'
               || (c & 0x80);
    }
    // One name, backquoted (`` inside) or bare; its text as written.
    bool name(QByteArray &out)
    {
        const char *start = p;
        if (take('`')) {
            for (;;) {
                if (p == end)
                    return false;
                if (*p++ == '`' && !take('`'))
                    break;
            }
        } else {
            while (p < end && isNameChar(*p))
                ++p;
            if (p == start)
                return false;
        }
        out = QByteArray(start, p - start);
        return true;
    }

    const char *p;
    const char *end;
};

// A quoted string's value, written with LOAD DATA's escapes at out (room for twice the text is
// there). Only the escapes the client library's escaping writes are taken: \% and \_ keep their
// backslash in SQL but not here.
bool quotedString(Cursor &c, char *&out)
{
    for (;;) {
        // Most bytes are themselves in both forms.
        const char *run = c.p;
        while (c.p < c.end && *c.p != '\'' && *c.p != '\\' && *c.p != '\t' && *c.p != '\n' && *c.p != '\r'
               && *c.p != '\0')
            ++c.p;
        std::memcpy(out, run, size_t(c.p - run));
        out += c.p - run;
        if (c.p == c.end)
            return false;
        const char ch = *c.p++;
        char value = ch;
        if (ch == '\'') {
            if (!c.take('\''))
                return true;
        } else if (ch == '\\') {
            if (c.p == c.end)
                return false;
            switch (*c.p++) {
            case '0': value = '\0'; break;
            case '\'': value = '\''; break;
            case '"': value = '"'; break;
            case 'b': value = '\b'; break;
            case 'n': value = '\n'; break;
            case 'r': value = '\r'; break;
            case 't': value = '\t'; break;
            case 'Z': value = '\x1a'; break;
            case '\\': value = '\\'; break;
            default: return false;
            }
        }
        switch (value) {
        case '\0': *out++ = '\\'; *out++ = '0'; break;
        case '\t': *out++ = '\\'; *out++ = 't'; break;
        case '\n': *out++ = '\\'; *out++ = 'n'; break;
        case '\r': *out++ = '\\'; *out++ = 'r'; break;
        case '\\': *out++ = '\\'; *out++ = '\\'; break;
        default: *out++ = value;
        }
    }
}

// A plain decimal number, as written.
bool number(Cursor &c, char *&out)
{
    const char *start = c.p;
    const bool negative = *c.p == '-';
    if (*c.p == '-' || *c.p == '+')
        ++c.p;
    bool digits = false, nonZero = false;
    const auto run = [&] {
        while (c.p < c.end && *c.p >= '0' && *c.p <= '9') {
            digits = true;
            nonZero = nonZero || *c.p != '0';
            ++c.p;
        }
    };
    run();
    if (c.take('.'))
        run();
    if (!digits)
        return false;
    if (c.p < c.end && (*c.p == 'e' || *c.p == 'E')) {
        ++c.p;
        if (!c.take('-'))
            c.take('+');
        const char *exponent = c.p;
        while (c.p < c.end && *c.p >= '0' && *c.p <= '9')
            ++c.p;
        if (c.p == exponent)
            return false;
    }
    if (negative && !nonZero)
        return false;
    if (c.p < c.end && (Cursor::isNameChar(*c.p) || *c.p == '.'))
        return false;
    std::memcpy(out, start, size_t(c.p - start));
    out += c.p - start;
    return true;
}

// "(item, item, ...)": false unless every item reads and the list closes.
template<class Item, class Between>
bool list(Cursor &c, Item item, Between between)
{
    if (!c.take('('))
        return false;
    for (;;) {
        c.skipSpace();
        if (!item())
            return false;
        c.skipSpace();
        if (c.take(')'))
            return true;
        if (!c.take(','))
            return false;
        between();
    }
}

}  // namespace

bool rowsAsData(const QByteArray &insert, const QByteArray &charset, RowsAsData &out)
{
    for (char ch : charset) {
        if (!Cursor::isNameChar(ch) || (ch & 0x80) || ch == '$')
            return false;
    }
    if (charset.isEmpty())
        return false;
    Cursor c(insert);
    c.skipSpace();
    QByteArray table;
    if (!c.word("INSERT"))
        return false;
    c.skipSpace();
    if (!c.word("INTO"))
        return false;
    c.skipSpace();
    if (!c.name(table) || (c.p < c.end && *c.p == '.'))
        return false;
    c.skipSpace();
    QByteArray columns;
    if (c.p < c.end && *c.p == '(') {
        const char *start = c.p;
        QByteArray column;
        if (!list(c, [&] { return c.name(column); }, [] {}))
            return false;
        columns = QByteArray(start, c.p - start);
        c.skipSpace();
    }
    if (!c.word("VALUES") && !c.word("VALUE"))
        return false;

    // Only a raw tab, line end or NUL grows (to two bytes); quotes, parentheses and escapes shrink
    // or stay, so the text's size and one byte more for each of those is room enough.
    const qsizetype raw = std::count_if(insert.begin(), insert.end(),
                                        [](char ch) { return ch == '\t' || ch == '\n' || ch == '\r' || ch == '\0'; });
    out.data.resize(insert.size() + raw + 16);
    char *const begin = out.data.data();
    char *w = begin;
    out.rows = 0;
    const auto value = [&] {
        if (c.p == c.end)
            return false;
        if (c.take('\''))
            return quotedString(c, w);
        if (c.word("NULL")) {
            *w++ = '\\';
            *w++ = 'N';
            return true;
        }
        return number(c, w);
    };
    for (;;) {
        c.skipSpace();
        const char *lineStart = w;
        if (!list(c, value, [&] { *w++ = '\t'; }))
            return false;
        // An empty line would be no row at all.
        if (w == lineStart)
            return false;
        *w++ = '\n';
        ++out.rows;
        c.skipSpace();
        if (c.take(','))
            continue;
        c.take(';');
        c.skipSpace();
        if (!c.atEnd())
            return false;
        break;
    }
    out.data.truncate(w - begin);
    out.statement = QByteArrayLiteral("LOAD DATA LOCAL INFILE 'rows' INTO TABLE ");
    out.statement.append(table).append(" CHARACTER SET ").append(charset);
    out.statement.append(" FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' LINES TERMINATED BY '\\n'");
    if (!columns.isEmpty())
        out.statement.append(' ').append(columns);
    return true;
}

}  // namespace velmar
