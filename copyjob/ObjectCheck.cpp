#include "ObjectCheck.h"

#include "Attempt.h"
#include "LocalServer.h"
#include "Messenger.h"
#include "ServerCheck.h"
#include "StatementAdapter.h"

namespace velmar {

bool ObjectCheck::run()
{
    const QStringList adapted = m_ctx.adapter ? m_ctx.adapter->summary() : QStringList();
    if (!adapted.isEmpty() && m_ctx.source.version.isEmpty())
        messenger().addLog(QStringLiteral("로컬 서버: ") + m_ctx.local.version);
    for (const QString &line : adapted)
        messenger().addLog(line);
    return guarded(QStringLiteral("SETP_DBImport"), kModMain, [&] {
        const SharedConnection db = m_ctx.localConnection();
        if (!db || !createDefiners())
            return false;
        const std::optional<QStringList> found = brokenObjects();
        if (!found)
            return false;  // the refused look has been shown
        const QStringList &broken = *found;
        if (broken.isEmpty())
            return !m_ctx.isCancelled();
        msgBox(QStringLiteral("복사한 DB(") + m_ctx.NewDBName()
                   + QStringLiteral(")의 개체 중 동작하지 않는 것이 있습니다.\r\n") + broken.join(QStringLiteral("\r\n")),
               Icon::Critical);
        return false;
    }).value_or(false);
}

bool ObjectCheck::createDefiners()
{
    const QString rights = QStringLiteral("GRANT ALL ON ") + quoteIdentifier(escapeLikePattern(m_ctx.NewDBName()))
                           + QStringLiteral(".* TO ");
    if (!m_ctx.adapter)
        return true;
    for (const QString &definer : m_ctx.adapter->missingDefiners()) {
        const auto [user, host] = splitAccount(definer);
        const QString account = quoteString(user) + u'@' + quoteString(host);
        // Locked: the account exists for the objects' rights, nobody logs in with it.
        if (ExecSQLLog(QStringLiteral("CREATE USER IF NOT EXISTS ") + account + QStringLiteral(" ACCOUNT LOCK")) < 0
            || ExecSQLLog(rights + account) < 0)
            return false;
    }
    return true;
}

std::optional<QStringList> ObjectCheck::brokenObjects()
{
    const QString schema = quoteString(m_ctx.NewDBName());
    std::unique_ptr<Recordset> rs;
    if (OpenRecordset(rs, QStringLiteral(
                              "SELECT 'view', CONVERT(TABLE_NAME USING utf8mb4), CONVERT(DEFINER USING utf8mb4) FROM "
                              "information_schema.VIEWS WHERE TABLE_SCHEMA = %1 "
                              "UNION ALL SELECT LOWER(ROUTINE_TYPE), CONVERT(ROUTINE_NAME USING utf8mb4), "
                              "CONVERT(DEFINER USING utf8mb4) FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA = %1 "
                              "UNION ALL SELECT 'trigger', CONVERT(TRIGGER_NAME USING utf8mb4), CONVERT(DEFINER USING "
                              "utf8mb4) FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = %1 "
                              "UNION ALL SELECT 'event', CONVERT(EVENT_NAME USING utf8mb4), CONVERT(DEFINER USING utf8mb4) "
                              "FROM information_schema.EVENTS WHERE EVENT_SCHEMA = %1 "
                              "UNION ALL SELECT 'account', CONVERT(CONCAT(User, '@', Host) USING utf8mb4), '' FROM mysql.user")
                              .arg(schema))
        < 0)
        return std::nullopt;
    QSet<QString> accounts;
    QList<QStringList> objects;
    for (qint32 i = 0; rs && i < rs->RecordCount(); ++i) {
        const QStringList &row = rs->row(i);
        if (row.value(0) == u"account")
            accounts.insert(row.value(1));
        else
            objects << row;
    }
    QStringList broken;
    const QString db = quoteIdentifier(m_ctx.NewDBName()) + u'.';
    for (const QStringList &o : std::as_const(objects)) {
        const QString name = o.value(0) + QStringLiteral(" ") + quoteIdentifier(o.value(1));
        if (o.value(0) == u"view") {
            qint32 error = 0;
            QString text;
            if (!quietRows(QStringLiteral("SELECT * FROM ") + db + quoteIdentifier(o.value(1)) + QStringLiteral(" LIMIT 0"),
                           &error, &text))
                broken << name + QStringLiteral(": ERROR %1: %2").arg(error).arg(text);
        } else if (!accounts.contains(o.value(2))) {
            const auto [user, host] = splitAccount(o.value(2));
            broken << name + QStringLiteral(": 정의자 ") + quoteString(user) + u'@' + quoteString(host)
                          + QStringLiteral("가 로컬에 없습니다.");
        }
    }
    return broken;
}

}  // namespace velmar
