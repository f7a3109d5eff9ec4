#include "StatementAdapter.h"

#include <QRegularExpression>

namespace velmar::load {

namespace {

using K = SqlStatement::Kind;

QByteArrayList candidates(const QByteArray &charset, const QByteArray &rest)
{
    const auto in = [&](const char *name) -> QByteArray { return charset + '_' + name; };
    QByteArrayList list;
    // MySQL 8 calls utf8 utf8mb3; older servers, and MariaDB before 10.6, the other way round.
    if (charset == "utf8mb3")
        list << "utf8_" + rest;
    if (charset == "utf8")
        list << "utf8mb3_" + rest;
    const qsizetype mysql = rest.indexOf("0900_");
    const qsizetype maria = rest.indexOf("uca1400_");
    QByteArray suffix;
    if (mysql >= 0)
        suffix = rest.mid(mysql + 5);
    else if (maria >= 0)
        suffix = rest.mid(maria + 8);
    suffix.replace("nopad_", "");
    if (!suffix.isEmpty())
        list << (mysql >= 0 ? in("uca1400_") : in("0900_")) + suffix;
    if (suffix == "bin" || suffix == "as_cs")
        list << in("bin");
    list << in("unicode_520_ci") << in("unicode_ci") << in("general_ci");
    return list;
}

// The names between quotes, unquoted: `a``b` -> a`b, 'a''b' -> a'b.
QByteArray unquoted(const QByteArray &word)
{
    if (word.size() >= 2 && (word.front() == '`' || word.front() == '\'')) {
        const char q = word.front();
        QByteArray inner = word.mid(1, word.size() - 2);
        inner.replace(QByteArray(2, q), QByteArray(1, q));
        return inner;
    }
    return word;
}

QByteArray backticked(const QByteArray &name)
{
    QByteArray inner = name;
    inner.replace("`", "``");
    return '`' + inner + '`';
}

bool identChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'
        || (static_cast<unsigned char>(c) >= 0x80);
}

// Whether text at i (after blanks) goes on with a dot: the name before it qualifies another.
bool dotFollows(const QByteArray &text, qsizetype i)
{
    while (i < text.size() && (text[i] == ' ' || text[i] == '\n' || text[i] == '\t'))
        ++i;
    return i < text.size() && text[i] == '.';
}

// The end of the quoted run that starts at i (one past its closing quote).
qsizetype quotedEnd(const QByteArray &text, qsizetype i)
{
    const char q = text[i];
    for (qsizetype j = i + 1; j < text.size(); ++j) {
        if (text[j] == '\\' && q != '`')
            ++j;
        else if (text[j] == q) {
            if (j + 1 < text.size() && text[j + 1] == q)
                ++j;
            else
                return j + 1;
        }
    }
    return text.size();
}

}  // namespace

QByteArray closestCollation(const QByteArray &missing, const QSet<QByteArray> &present)
{
    const QByteArray name = missing.toLower();
    const qsizetype cut = name.indexOf('_');
    if (cut <= 0)
        return {};
    for (const QByteArray &c : candidates(name.left(cut), name.mid(cut + 1))) {
        if (present.contains(c))
            return c;
    }
    return {};
}

bool StatementAdapter::adapt(SqlStatement &s, const QByteArray &database)
{
    // Rows hold values only: none of the changes below is about them.
    if (s.kind == K::Insert)
        return true;
    if (dropped(s))
        return false;
    collations(s);
    invisible(s);
    if (s.kind == K::CreateTable && !m_elsewhere.isEmpty())
        references(s);
    const bool object = s.kind == K::CreateView || s.kind == K::CreateTrigger || s.kind == K::CreateRoutine
        || s.kind == K::CreateEvent;
    if (object) {
        ownName(s, database.isEmpty() ? m_rules.toDatabase : database);
        definer(s);
    }
    sqlMode(s);
    return true;
}

bool StatementAdapter::dropped(const SqlStatement &s)
{
    // A local copy keeps no source's transaction history and writes its binary log as usual.
    static const QRegularExpression gtid(QStringLiteral("^\\s*SET\\s+@@GLOBAL\\s*\\.\\s*GTID_PURGED\\s*="),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression logBin(
        QStringLiteral("^\\s*SET\\s+(@@SESSION\\s*\\.\\s*SQL_LOG_BIN|@MYSQLDUMP_TEMP_LOG_BIN)\\s*="),
        QRegularExpression::CaseInsensitiveOption);
    if (s.kind != K::SessionSetting && s.kind != K::Other)
        return false;
    const QString text = QString::fromUtf8(s.text.left(200));
    if (gtid.match(text).hasMatch()) {
        noteChange(Change::Gtid, s);
        return true;
    }
    if (logBin.match(text).hasMatch()) {
        noteChange(Change::LogBin, s);
        return true;
    }
    return false;
}

void StatementAdapter::noteChange(Change c, const SqlStatement &s, const QByteArray &detail)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_seen[c].insert(s.offset);
    if (c == Change::Definer)
        m_definersUsed.insert(detail);
}

void StatementAdapter::collations(SqlStatement &s)
{
    if (m_rules.collations.isEmpty())
        return;
    static const QRegularExpression named(
        QStringLiteral("\\b(?:COLLATE\\s*=?\\s*|COLLATION_CONNECTION\\s*=\\s*)['`]?([A-Za-z0-9_]+)"),
        QRegularExpression::CaseInsensitiveOption);
    if (!s.text.contains("COLLAT") && !s.text.contains("collat"))
        return;
    const QString text = QString::fromUtf8(s.text);
    QString out;
    qsizetype from = 0;
    bool changed = false;
    for (const auto &m : named.globalMatch(text)) {
        const QByteArray name = m.captured(1).toLower().toUtf8();
        if (m_rules.collations.contains(name))
            continue;
        const QByteArray closest = closestCollation(name, m_rules.collations);
        if (closest.isEmpty())
            continue;
        out += text.mid(from, m.capturedStart(1) - from) + QString::fromUtf8(closest);
        from = m.capturedEnd(1);
        changed = true;
        std::lock_guard<std::mutex> hold(m_lock);
        m_collationsUsed[name] = closest;
    }
    static const QRegularExpression encryption(
        QStringLiteral("\\s*/\\*!80016 DEFAULT ENCRYPTION='[YN]' \\*/"));
    if (changed) {
        s.text = (out + text.mid(from)).toUtf8();
        noteChange(Change::Collation, s);
    }
    if (m_rules.mariadb && s.text.contains("/*!80016 DEFAULT ENCRYPTION=")) {
        s.text = QString::fromUtf8(s.text).remove(encryption).toUtf8();
        noteChange(Change::Encryption, s);
    }
}

void StatementAdapter::invisible(SqlStatement &s)
{
    // MariaDB passes over MySQL 8's versioned comments, so the column would turn visible; it has
    // invisible columns of its own.
    if (!m_rules.mariadb || s.kind != K::CreateTable || !s.text.contains("/*!80023 INVISIBLE */"))
        return;
    s.text.replace("/*!80023 INVISIBLE */", "INVISIBLE");
    noteChange(Change::Invisible, s);
}

// `old`.`t`, old.t -> `new`.`t`; a name in quotes or a name that qualifies nothing stays.
void StatementAdapter::ownName(SqlStatement &s, const QByteArray &to)
{
    const QByteArray &from = m_rules.fromDatabase;
    if (from.isEmpty() || from == to || !s.text.contains(from))
        return;
    const QByteArray &t = s.text;
    QByteArray out;
    out.reserve(t.size() + 16);
    bool changed = false;
    for (qsizetype i = 0; i < t.size();) {
        const char c = t[i];
        const bool qualifiable = i == 0 || (t[i - 1] != '.' && !identChar(t[i - 1]));
        qsizetype end = i + 1;
        if (c == '\'' || c == '"' || c == '`')
            end = quotedEnd(t, i);
        else if (identChar(c))
            while (end < t.size() && identChar(t[end]))
                ++end;
        const QByteArray word = t.mid(i, end - i);
        if ((c == '`' || (identChar(c) && qualifiable)) && c != '\'' && unquoted(word) == from
            && dotFollows(t, end)) {
            out += backticked(to);
            changed = true;
        } else {
            out += word;
        }
        i = end;
    }
    if (changed) {
        s.text = out;
        // A copy under the source's own name changes only its staging load: nothing to say.
        if (from != m_rules.toDatabase)
            noteChange(Change::OwnName, s);
    }
}

void StatementAdapter::definer(SqlStatement &s)
{
    if (!s.text.contains("DEFINER"))
        return;
    static const QString part = QStringLiteral("(`(?:[^`]|``)*`|'(?:[^'\\\\]|\\\\.|'')*'|[A-Za-z0-9_$.%-]+)");
    static const QRegularExpression named(QStringLiteral("DEFINER\\s*=\\s*") + part
                                          + QStringLiteral("\\s*@\\s*") + part);
    const QString text = QString::fromUtf8(s.text);
    const QRegularExpressionMatch m = named.match(text);
    if (!m.hasMatch())
        return;
    const QByteArray user = unquoted(m.captured(1).toUtf8());
    const QByteArray host = unquoted(m.captured(2).toUtf8());
    if (m_rules.accounts.contains(user + '@' + host))
        return;
    if (m_rules.definerTo.isEmpty()) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_definersKept.insert(user + '@' + host);
        return;
    }
    s.text = (text.left(m.capturedStart()) + QStringLiteral("DEFINER=") + QString::fromUtf8(m_rules.definerTo)
              + text.mid(m.capturedEnd()))
                 .toUtf8();
    noteChange(Change::Definer, s, backticked(user) + '@' + backticked(host));
}

void StatementAdapter::sqlMode(SqlStatement &s)
{
    // MySQL 8 removed the mode; older servers wrote it into every routine's sql_mode.
    if (!m_rules.mysql8 || s.kind != K::SessionSetting || !s.text.contains("NO_AUTO_CREATE_USER"))
        return;
    s.text.replace("NO_AUTO_CREATE_USER,", "")
        .replace(",NO_AUTO_CREATE_USER", "")
        .replace("NO_AUTO_CREATE_USER", "");
    noteChange(Change::SqlMode, s);
}

QStringList StatementAdapter::missingDefiners() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    QStringList out;
    for (const QByteArray &d : m_definersKept)
        out << QString::fromUtf8(d);
    return out;
}

QStringList StatementAdapter::summary() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto count = [&](Change c) {
        const auto it = m_seen.find(c);
        return it == m_seen.end() ? 0 : int(it->second.size());
    };
    QStringList lines;
    if (const int n = count(Change::Gtid))
        lines << QStringLiteral("적응: SET @@GLOBAL.GTID_PURGED 문장 %1개를 보내지 않았습니다.").arg(n);
    if (const int n = count(Change::LogBin))
        lines << QStringLiteral("적응: SQL_LOG_BIN 문장 %1개를 보내지 않았습니다.").arg(n);
    if (const int n = count(Change::Collation)) {
        QStringList pairs;
        for (const auto &[missing, used] : m_collationsUsed)
            pairs << QString::fromUtf8(missing + " -> " + used);
        lines << QStringLiteral("적응: 로컬 서버에 없는 콜레이션을 바꿨습니다 (문장 %1개): %2")
                     .arg(n)
                     .arg(pairs.join(QStringLiteral(", ")));
    }
    if (const int n = count(Change::Encryption))
        lines << QStringLiteral("적응: DEFAULT ENCRYPTION 옵션을 뺐습니다 (문장 %1개).").arg(n);
    if (const int n = count(Change::Invisible))
        lines << QStringLiteral(
                     "적응: MySQL 8의 INVISIBLE 열을 MariaDB의 INVISIBLE 열로 만들었습니다 (문장 %1개).")
                     .arg(n);
    if (const int n = count(Change::OwnName))
        lines << QStringLiteral("적응: 개체 본문의 DB 이름 %1을 %2(으)로 바꿨습니다 (문장 %3개).")
                     .arg(QString::fromUtf8(m_rules.fromDatabase), QString::fromUtf8(m_rules.toDatabase))
                     .arg(n);
    if (const int n = count(Change::Definer)) {
        QStringList names;
        for (const QByteArray &d : m_definersUsed)
            names << QString::fromUtf8(d);
        lines << QStringLiteral("적응: 로컬에 없는 정의자를 %1(으)로 바꿨습니다 (문장 %2개): %3")
                     .arg(QString::fromUtf8(m_rules.definerTo))
                     .arg(n)
                     .arg(names.join(QStringLiteral(", ")));
    }
    if (const int n = count(Change::SqlMode))
        lines
            << QStringLiteral("적응: 루틴의 sql_mode에서 NO_AUTO_CREATE_USER를 뺐습니다 (문장 %1개).").arg(n);
    return lines;
}

}  // namespace velmar::load

namespace velmar::load {

void StatementAdapter::referElsewhere(const QByteArray &database, const QSet<QByteArray> &tables)
{
    m_elsewhereDatabase = database;
    m_elsewhere = tables;
}

void StatementAdapter::references(SqlStatement &s) const
{
    // The dump writes "REFERENCES `name` (" with the name alone, which the server reads in the
    // database the table is made in.
    static const QByteArray word = "REFERENCES `";
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype at = s.text.indexOf(word); at >= 0; at = s.text.indexOf(word, from)) {
        const qsizetype start = at + word.size();
        qsizetype end = start;
        QByteArray name;
        while (end < s.text.size()) {
            if (s.text.at(end) == '`') {
                if (end + 1 < s.text.size() && s.text.at(end + 1) == '`') {
                    name += '`';
                    end += 2;
                    continue;
                }
                break;
            }
            name += s.text.at(end++);
        }
        // A name already followed by ".`table`" names its database itself.
        const bool qualified = end + 1 < s.text.size() && s.text.at(end + 1) == '.';
        out += s.text.mid(from, start - 1 - from);
        if (end < s.text.size() && !qualified && m_elsewhere.contains(name)) {
            QByteArray db = m_elsewhereDatabase;
            out += '`' + db.replace("`", "``") + "`.";
        }
        from = start - 1;
        if (end >= s.text.size())
            break;
        out += s.text.mid(from, end + 1 - from);
        from = end + 1;
    }
    if (from == 0)
        return;
    out += s.text.mid(from);
    s.text = out;
}

}  // namespace velmar::load
