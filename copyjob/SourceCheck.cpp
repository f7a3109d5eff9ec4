#include "SourceCheck.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "LinkMeasure.h"

namespace velmar {

DbPresence SourceCheck::run()
{
    DbPresence found = DbPresence::Unknown;  // after an unexpected error: what had been found
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [&] {
        const SharedConnection db(m_ctx.request.host.trimmed(), kRootUser, kRootPassword, QString(), &m_ctx.cancel);
        if (!db)
            return DbPresence::Unknown;  // the connection error has been shown
        found = databaseExists(m_ctx.SourceDBName());
        if (found == DbPresence::Present)
            readFacts(m_ctx.SourceDBName());
        return found;
    }).value_or(found);
}

void SourceCheck::readFacts(const QString &dbName)
{
    // One question for all of them: a source across a slow link answers each after a round trip.
    const QString schema = quoteString(dbName);
    std::unique_ptr<Recordset> rs;
    if (OpenRecordset(rs, factsQuery(schema)) <= 0 || !rs || rs->RecordCount() == 0)
        return;
    for (qint32 i = 0; i < rs->RecordCount(); ++i) {
        const QStringList &row = rs->row(i);
        const QString &kind = row.value(0);
        if (kind == u"facts")
            readSizes(row);
        else if (kind == u"version")
            m_ctx.source.version = row.value(1) + QStringLiteral(" (") + row.value(2) + u')';
        else if (kind == u"collation")
            m_ctx.source.collations << row.value(1);
        else if (kind == u"engine")
            m_ctx.source.engines << row.value(1);
        else if (kind == u"definer")
            m_ctx.source.definers << row.value(1);
        else if (kind == u"kind")
            m_ctx.source.kinds << row.value(1);
        else if (kind == u"type")
            m_ctx.source.types << row.value(1);
    }
    chooseCompression();
}

QString SourceCheck::factsQuery(const QString &schema)
{
    // Every text in the same character set: a UNION of information_schema's columns of several
    // collations is refused otherwise.
    return QStringLiteral(
               "SELECT 'facts', CONVERT(s.DEFAULT_CHARACTER_SET_NAME USING utf8mb4), "
               "CONVERT(s.DEFAULT_COLLATION_NAME USING utf8mb4), "
               "(SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1), "
               "(SELECT COUNT(*) FROM information_schema.EVENTS WHERE EVENT_SCHEMA = %1), "
               "(SELECT COALESCE(SUM(DATA_LENGTH + INDEX_LENGTH), 0) FROM "
               "information_schema.TABLES WHERE TABLE_SCHEMA = %1) "
               "FROM information_schema.SCHEMATA s WHERE s.SCHEMA_NAME = %1 "
               "UNION SELECT 'version', CONVERT(VERSION() USING utf8mb4), CONVERT(@@version_comment USING utf8mb4), 0, 0, 0 "
               "UNION SELECT 'collation', CONVERT(COLLATION_NAME USING utf8mb4), '', 0, 0, 0 FROM information_schema.COLUMNS "
               "WHERE TABLE_SCHEMA = %1 AND COLLATION_NAME IS NOT NULL "
               "UNION SELECT 'collation', CONVERT(TABLE_COLLATION USING utf8mb4), '', 0, 0, 0 FROM information_schema.TABLES "
               "WHERE TABLE_SCHEMA = %1 AND TABLE_COLLATION IS NOT NULL "
               "UNION SELECT 'collation', CONVERT(COLLATION_CONNECTION USING utf8mb4), '', 0, 0, 0 FROM "
               "information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1 "
               "UNION SELECT 'engine', CONVERT(ENGINE USING utf8mb4), '', 0, 0, 0 FROM information_schema.TABLES "
               "WHERE TABLE_SCHEMA = %1 AND ENGINE IS NOT NULL "
               "UNION SELECT 'kind', CONVERT(TABLE_TYPE USING utf8mb4), '', 0, 0, 0 FROM information_schema.TABLES "
               "WHERE TABLE_SCHEMA = %1 AND TABLE_TYPE NOT IN ('BASE TABLE', 'VIEW') "
               "UNION SELECT 'type', CONVERT(DATA_TYPE USING utf8mb4), '', 0, 0, 0 FROM information_schema.COLUMNS "
               "WHERE TABLE_SCHEMA = %1 AND DATA_TYPE IN ('uuid', 'inet4', 'inet6') "
               "UNION SELECT 'definer', CONVERT(DEFINER USING utf8mb4), '', 0, 0, 0 FROM information_schema.VIEWS "
               "WHERE TABLE_SCHEMA = %1 "
               "UNION SELECT 'definer', CONVERT(DEFINER USING utf8mb4), '', 0, 0, 0 FROM information_schema.ROUTINES "
               "WHERE ROUTINE_SCHEMA = %1 "
               "UNION SELECT 'definer', CONVERT(DEFINER USING utf8mb4), '', 0, 0, 0 FROM information_schema.TRIGGERS "
               "WHERE TRIGGER_SCHEMA = %1 "
               "UNION SELECT 'definer', CONVERT(DEFINER USING utf8mb4), '', 0, 0, 0 FROM information_schema.EVENTS "
               "WHERE EVENT_SCHEMA = %1")
        .arg(schema);
}

void SourceCheck::readSizes(const QStringList &row)
{
    const QString pair = row.value(1) + u' ' + row.value(2);
    if (isCharsetPair(pair))
        m_ctx.source.charset = pair;
    m_ctx.source.leftOut = leftOutNotice(m_ctx.request.dumpOption, row.value(3).toInt(), row.value(4).toInt());
    bool read = false;
    const qint64 size = row.value(5).toLongLong(&read);
    m_ctx.source.bytes = read ? size : -1;
}

void SourceCheck::chooseCompression()
{
    const CopyRequest &r = m_ctx.request;
    // "localhost" is the socket (or, on Windows, this machine's port 3306): no link to measure. A
    // host over TCP is measured even when it is this machine's, where the link is fast and the
    // measure says so. The user's own word on compression wins.
    if (r.host.trimmed().compare(kLocalHost, Qt::CaseInsensitive) == 0 || optionsSayCompression(r.dumpOption))
        return;
    const std::optional<LinkFacts> link = measureLink();
    if (!link)
        return;
    m_ctx.source.compress = compressionPays(*link);
    m_ctx.source.linkLine = linkLogLine(*link, m_ctx.source.compress);
}

}  // namespace velmar
