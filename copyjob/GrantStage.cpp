#include "GrantStage.h"

#include "Attempt.h"
#include "Messenger.h"
#include "modWaitProc.h"

namespace velmar {

namespace {

// The longest database name (and GRANT pattern) the server takes.
constexpr qsizetype kMaxNameLength = 64;

}  // namespace

bool GrantStage::run()
{
    return guarded(QStringLiteral("AddUser"), kFormMain, [this] {
        if (m_ctx.isCancelled())
            return false;
        const SharedConnection db = m_ctx.localConnection();
        QStringList objects;
        if (!db || !grantObjects(objects))
            return false;
        const QString identified = QStringLiteral(" IDENTIFIED BY '") + kGrantPassword + u'\'';
        const QString user = m_ctx.NewUserName();
        QStringList statements;
        for (const QString &object : std::as_const(objects)) {
            const QString on = QStringLiteral("GRANT ALL ON ") + object + QStringLiteral(" TO ");
            statements << on + quoteString(user) + QStringLiteral("@'%'") + identified
                       << on + quoteString(user) + QStringLiteral("@'localhost'") + identified;
            if (m_ctx.request.onOrdUser)
                statements << on + quoteString(user + QStringLiteral("_ord")) + QStringLiteral("@'%'") + identified;
        }
        for (const QString &statement : std::as_const(statements)) {
            if (m_ctx.isCancelled())
                break;
            messenger().addLog(maskSecret(statement, kGrantPassword));
            // A refused grant has been shown; the user would be left without the rights.
            if (ExecuteSQL(statement) < 0)
                return false;
        }
        return !m_ctx.isCancelled();
    }).value_or(false);
}

bool GrantStage::grantObjects(QStringList &objects)
{
    // The database name is a pattern in a GRANT: its _ and % are escaped so that the rights cover
    // exactly this database. The server takes no pattern over 64 characters; then the rights go
    // to each table by its exact name (table rights know no patterns).
    const QString pattern = escapeLikePattern(m_ctx.NewDBName());
    if (pattern.size() <= kMaxNameLength) {
        objects << quoteIdentifier(pattern) + QStringLiteral(".*");
        return true;
    }
    bool listed = false;
    const QStringList tables = column(QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE "
                                                     "TABLE_SCHEMA = ")
                                          + quoteString(m_ctx.NewDBName()) + QStringLiteral(" ORDER BY TABLE_NAME"),
                                      &listed);
    for (const QString &table : tables)
        objects << quoteIdentifier(m_ctx.NewDBName()) + u'.' + quoteIdentifier(table);
    return listed;
}

}  // namespace velmar
