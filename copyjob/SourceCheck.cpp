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
    if (OpenRecordset(rs, QStringLiteral("SELECT s.DEFAULT_CHARACTER_SET_NAME, s.DEFAULT_COLLATION_NAME, "
                                         "(SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1), "
                                         "(SELECT COUNT(*) FROM information_schema.EVENTS WHERE EVENT_SCHEMA = %1), "
                                         "(SELECT COALESCE(SUM(DATA_LENGTH + INDEX_LENGTH), 0) FROM "
                                         "information_schema.TABLES WHERE TABLE_SCHEMA = %1) "
                                         "FROM information_schema.SCHEMATA s WHERE s.SCHEMA_NAME = %1")
                              .arg(schema))
            <= 0
        || !rs || rs->RecordCount() == 0)
        return;
    const QStringList &row = rs->row(0);
    const QString pair = row.value(0) + u' ' + row.value(1);
    if (isCharsetPair(pair))
        m_ctx.source.charset = pair;
    m_ctx.source.leftOut = leftOutNotice(m_ctx.request.dumpOption, row.value(2).toInt(), row.value(3).toInt());
    bool read = false;
    const qint64 size = row.value(4).toLongLong(&read);
    m_ctx.source.bytes = read ? size : -1;
    chooseCompression();
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
