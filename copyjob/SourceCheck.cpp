#include "SourceCheck.h"

#include "Attempt.h"
#include "ClientPrograms.h"

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
    std::unique_ptr<Recordset> rs;
    if (OpenRecordset(rs, QStringLiteral("SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
                                         "information_schema.SCHEMATA WHERE SCHEMA_NAME = ")
                              + quoteString(dbName))
            > 0
        && rs && rs->RecordCount() > 0) {
        const QString pair = rs->row(0).value(0) + u' ' + rs->row(0).value(1);
        if (isCharsetPair(pair))
            m_ctx.source.charset = pair;
    }
    const QString schema = quoteString(dbName);
    m_ctx.source.leftOut = leftOutNotice(
        m_ctx.request.dumpOption,
        column(QStringLiteral("SELECT COUNT(*) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = ") + schema)
            .value(0).toInt(),
        column(QStringLiteral("SELECT COUNT(*) FROM information_schema.EVENTS WHERE EVENT_SCHEMA = ") + schema)
            .value(0).toInt());
    bool read = false;
    const qint64 size = column(QStringLiteral("SELECT COALESCE(SUM(DATA_LENGTH + INDEX_LENGTH), 0) FROM "
                                              "information_schema.TABLES WHERE TABLE_SCHEMA = ")
                               + schema)
                            .value(0)
                            .toLongLong(&read);
    m_ctx.source.bytes = read ? size : -1;
}

}  // namespace velmar
