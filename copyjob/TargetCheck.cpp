#include "TargetCheck.h"

#include "Attempt.h"
#include "LocalServer.h"
#include "Messenger.h"

namespace velmar {

TargetDecision TargetCheck::run()
{
    return guarded(QStringLiteral("IsExistDB"), kFormMain, [&] {
        const QString dbName = m_ctx.NewDBName();
        DbPresence found = DbPresence::Unknown;
        {
            const SharedConnection db(m_host.trimmed(), kRootUser, kRootPassword, QString(), &m_ctx.cancel);
            if (!db)
                return TargetDecision::Stop;  // the connection error has been shown
            if (m_host == kLocalHost && !removeLeftoverStaging(m_ctx))
                return TargetDecision::Stop;
            found = databaseExists(dbName);
        }
        if (found != DbPresence::Present)
            return found == DbPresence::Missing ? TargetDecision::LoadNew : TargetDecision::Stop;
        if (m_host != kLocalHost) {
            msgBox(QStringLiteral("localhost만 DB삭제가능합니다."));
            return TargetDecision::Stop;
        }
        // Replaced once its replacement has loaded beside it.
        return replaceConsented(dbName) ? TargetDecision::Replace : TargetDecision::Stop;
    }).value_or(TargetDecision::Stop);
}

bool TargetCheck::replaceConsented(const QString &dbName)
{
    // No question once cancelled, and no drop when cancel came while it was asked.
    if (m_ctx.isCancelled())
        return false;
    if (!m_ctx.request.existDBDel
        && !askYesNo(QStringLiteral("Local에 동일한 DB명(") + dbName
                     + QStringLiteral(")이 존재합니다.\r\n삭제후 계속 진행할까요?"))) {
        m_ctx.stopReason = QStringLiteral("Local에 동일한 DB명(") + dbName + QStringLiteral(")이 존재하며 삭제하지 않았습니다.");
        return false;
    }
    return !m_ctx.isCancelled();
}

}  // namespace velmar
