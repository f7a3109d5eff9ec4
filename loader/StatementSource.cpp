#include "StatementSource.h"

#include "DeferredKeys.h"
#include "GrowingFile.h"
#include "LoadStop.h"
#include "StatementAdapter.h"

#include <QFile>
#include <QRegularExpression>

#include <utility>

namespace velmar::load {

std::unique_ptr<QIODevice> openLoadFile(const QString &path, const LoadOptions &options, const LoadStop &stop,
                                        QString *error)
{
    std::unique_ptr<QIODevice> file;
    if (options.growing)
        file = std::make_unique<GrowingFileReader>(path, options.growing,
                                                   [&stop] { return stop.readerGivesUp(); });
    else
        file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
    return file;
}

TableRows::TableRows(const QString &path, std::unique_ptr<QIODevice> file, const QByteArray &table,
                     qint64 maxPacket)
    : m_path(path), m_table(table), m_maxPacket(maxPacket), m_file(std::move(file))
{
}

TableRows::~TableRows() = default;

bool TableRows::take(SqlStatement &s, qint64 &bytes, QString &readError)
{
    std::lock_guard<std::mutex> read(m_lock);
    const bool more = !m_exhausted && m_reader->next(s);
    readError = m_reader->error();
    if (!more || s.kind != SqlStatement::Kind::Insert || s.name != m_table
        || s.text.size() + 1 > m_maxPacket) {
        m_exhausted = true;
        return false;
    }
    bytes = s.endOffset - m_position;
    m_position = s.endOffset;
    return true;
}

StatementSource::StatementSource(const QString &path, const LoadTarget &target, const LoadOptions &options,
                                 const LoadStop &stop)
    : m_path(path), m_database(target.database), m_options(options), m_stop(stop)
{
}

StatementSource::~StatementSource() = default;

bool StatementSource::open(QString *error)
{
    m_file = openLoadFile(m_path, m_options, m_stop, error);
    if (!m_file)
        return false;
    m_size = m_file->size();
    return true;
}

void StatementSource::setServer(unsigned long version, const QByteArray &defaultEngine)
{
    m_serverVersion = version;
    m_defaultEngine = defaultEngine;
    m_reader = std::make_unique<SqlStatementReader>(m_file.get());
    m_reader->setServerVersion(version);
}

bool StatementSource::next(SqlStatement &s)
{
    // A statement the adapter leaves out is passed over like a comment: the progress still counts
    // its bytes, from the next statement's end.
    while (m_reader->next(s)) {
        if (!m_options.adapter || m_options.adapter->adapt(s, m_database.toUtf8()))
            return true;
    }
    return false;
}

qint64 StatementSource::waitedMs() const
{
    const auto *growing = dynamic_cast<const GrowingFileReader *>(m_file.get());
    return growing ? growing->waitedMs() : 0;
}

qint64 StatementSource::total() const
{
    if (!m_options.growing)
        return m_size;
    return m_options.growing->finished() ? m_options.growing->size() : -1;
}

// The loader runs SQL only. A client command (source, system, \\!, connect, USE of another
// database, charset, ...) means the file needs the mysql client itself: the load stops before it,
// and the caller hands the file to the client (in a database made anew if anything was sent).
QString StatementSource::clientCommand(const SqlStatement &s) const
{
    const bool otherDatabase = s.kind == SqlStatement::Kind::Use && QString::fromUtf8(s.name) != m_database;
    if (s.kind != SqlStatement::Kind::ClientCommand && !otherDatabase)
        return {};
    const QByteArray shown = s.kind == SqlStatement::Kind::Use ? s.text.trimmed() : s.command;
    return QStringLiteral("클라이언트 명령 \"%1\"(%3의 %2번째 줄)은 mysql 클라이언트가 실행해야 합니다.")
        .arg(QString::fromUtf8(shown.left(200)))
        .arg(s.line)
        .arg(m_path);
}

// The keys wait for the table's rows: past its locks, its keys switch and, until the rows begin,
// the settings mysqldump makes around the CREATE TABLE.
bool StatementSource::keysDue(const SqlStatement &s)
{
    using K = SqlStatement::Kind;
    if (s.kind == K::Insert && s.name == m_keys.table) {
        m_keysRowsBegun = true;
        return false;
    }
    return keysHeld() && s.kind != K::LockTables && s.kind != K::UnlockTables
           && !isKeysSwitch(s.text, m_keys.table) && (m_keysRowsBegun || s.kind != K::SessionSetting);
}

HeldKeys StatementSource::takeKeys()
{
    return std::exchange(m_keys, HeldKeys());
}

void StatementSource::learnTable(SqlStatement &s, bool deferKeys)
{
    using K = SqlStatement::Kind;
    // Rows load faster into a table without its secondary indexes; the server then builds each
    // of them once. Only while foreign keys are not checked, like the rows themselves.
    if (s.kind == K::CreateTable && deferKeys && accepted(s)) {
        QByteArray withoutKeys;
        QByteArray keys;
        QByteArray foreignKeys;
        if (splitSecondaryKeys(s.text, withoutKeys, keys, foreignKeys)) {
            s.text = withoutKeys;
            m_keys = HeldKeys{keys, foreignKeys, s.name, s.line};
            m_keysRowsBegun = false;
        }
    }
    if ((s.kind != K::CreateTable && s.kind != K::DropTable) || !accepted(s))
        return;
    // Only rows of a transactional table can be rolled back and sent again as INSERTs.
    static const QRegularExpression engine(QStringLiteral("\\)\\s*ENGINE\\s*=\\s*(\\w+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    QByteArray name = m_defaultEngine;
    for (const auto &m : engine.globalMatch(QString::fromUtf8(s.text)))
        name = m.captured(1).toUtf8();
    if (s.kind == K::CreateTable && name.compare("InnoDB", Qt::CaseInsensitive) == 0)
        m_transactional.insert(s.name);
    else
        m_transactional.remove(s.name);
    static const QRegularExpression autoIncrement(QStringLiteral("\\bAUTO_INCREMENT\\b(?!\\s*=)"),
                                                  QRegularExpression::CaseInsensitiveOption);
    if (s.kind == K::CreateTable && autoIncrement.match(QString::fromUtf8(s.text)).hasMatch())
        m_autoIncrement.insert(s.name);
    else
        m_autoIncrement.remove(s.name);
    if (s.kind == K::CreateTable)
        m_lastCreated = s.name;
}

// The loader owns the new database while it loads: LOCK TABLES would only make the other
// connections wait, so table locks are not sent (nor is a USE of that database). Nor is
// mysqldump's DISABLE/ENABLE KEYS of an InnoDB table, which does nothing there.
bool StatementSource::passedOver(const SqlStatement &s) const
{
    using K = SqlStatement::Kind;
    return s.kind == K::LockTables || s.kind == K::UnlockTables || s.kind == K::Use
           || (m_options.filter && !m_options.filter(s))
           || (s.kind == K::Other && m_transactional.contains(m_lastCreated)
               && isKeysSwitch(s.text, m_lastCreated));
}

std::unique_ptr<TableRows> StatementSource::rowsFrom(const SqlStatement &s, qint64 maxPacket) const
{
    SqlStatementReader::ResumePoint point;
    if (!m_reader->resumePoint(s, point))
        return nullptr;
    QString ignored;
    auto rows = std::make_unique<TableRows>(m_path, openLoadFile(m_path, m_options, m_stop, &ignored), s.name,
                                            maxPacket);
    if (!rows->m_file || !rows->m_file->seek(point.offset))
        return nullptr;
    rows->m_position = point.offset;
    rows->m_reader = std::make_unique<SqlStatementReader>(rows->m_file.get());
    rows->m_reader->setServerVersion(m_serverVersion);
    rows->m_reader->resumeAt(point);
    return rows;
}

}  // namespace velmar::load
