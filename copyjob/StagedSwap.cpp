#include "StagedSwap.h"

#include "ClientPrograms.h"
#include "DefinitionRecord.h"
#include "DumpFolder.h"
#include "LocalServer.h"
#include "Messenger.h"
#include "OtherSessions.h"
#include "RaisedError.h"
#include "StagedReplace.h"

#include <QScopeGuard>

namespace velmar {

bool StagedSwap::run(const QString &staging, bool replacing)
{
    const auto swapped = qScopeGuard([this] { m_ctx.endChanging(); });
    const SharedConnection db = m_ctx.localConnection(false);
    if (db)
        boundLockWaits();
    return db && read(staging) && (m_ctx.changes ? refresh(staging) : replace(staging, replacing));
}

bool StagedSwap::runWaiting(const QString &statement)
{
    for (;;) {
        const qint32 result = tryStatement(statement);
        if (result != kLockWaitTimeout)
            return result == 0;
        const std::vector<OtherSession> others = otherSessions(m_ctx.NewDBName());
        messenger().addLog(QStringLiteral("Local DB(") + m_ctx.NewDBName()
                           + QStringLiteral(") 교체가 다른 연결의 잠금을 기다립니다.")
                           + (others.empty() ? QString() : QStringLiteral("\r\n") + describeSessions(others)));
    }
}

bool StagedSwap::read(const QString &staging)
{
    bool triggersListed = false, tablesListed = false, charsetRead = false;
    m_triggers = column(
        QStringLiteral("SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = ")
            + quoteString(staging),
        &triggersListed);
    m_tables = column(QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = ")
                          + quoteString(staging) + QStringLiteral(" AND TABLE_TYPE <> 'VIEW'"),
                      &tablesListed);
    m_charset = column(QStringLiteral("SELECT CONCAT_WS(' ', 'CHARACTER SET', DEFAULT_CHARACTER_SET_NAME, 'COLLATE', "
                                      "DEFAULT_COLLATION_NAME) FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = ")
                           + quoteString(staging),
                       &charsetRead)
                    .value(0);
    return triggersListed && tablesListed && charsetRead;
}

bool StagedSwap::replace(const QString &staging, bool replacing)
{
    const QString from = quoteIdentifier(staging) + u'.';
    const QString to = quoteIdentifier(m_ctx.NewDBName()) + u'.';
    // A table with triggers cannot move to another database; the file creates them anew there.
    for (const QString &trigger : std::as_const(m_triggers)) {
        if (ExecuteSQL(QStringLiteral("DROP TRIGGER ") + from + quoteIdentifier(trigger)) < 0)
            return false;
    }
    QStringList moves;
    for (const QString &table : std::as_const(m_tables))
        moves << from + quoteIdentifier(table) + QStringLiteral(" TO ") + to + quoteIdentifier(table);

    // From here the user's database is unavailable until its replacement is in place.
    QElapsedTimer away;
    away.start();
    if (replacing) {
        if (!dropOpenTarget(m_ctx))
            return false;
    } else if (!m_ctx.beginChanging()) {
        return false;
    }
    m_begun = true;
    if (ExecSQLLog(QStringLiteral("CREATE DATABASE IF NOT EXISTS ") + quoteIdentifier(m_ctx.NewDBName()) + u' '
                   + m_charset)
        < 0)
        return false;
    if (!moves.isEmpty()) {
        messenger().addLog(QStringLiteral("테이블 이동: ") + staging + QStringLiteral(" -> ") + m_ctx.NewDBName()
                           + QStringLiteral(" (%1개)").arg(moves.size()));
        if (!runWaiting(QStringLiteral("RENAME TABLE ") + moves.join(QStringLiteral(", "))))
            return false;
    }
    loadObjects();
    if (replacing)
        messenger().addLog(QStringLiteral("Local DB 교체 완료: ") + m_ctx.NewDBName()
                           + QStringLiteral(" (사용할 수 없던 시간 %1초)").arg(double(away.elapsed()) / 1000.0, 0, 'f', 1));
    else
        messenger().addLog(QStringLiteral("Local DB 생성 완료: ") + m_ctx.NewDBName());
    m_ctx.replaced = replacing;
    DropDatabase(staging);
    return true;
}

void StagedSwap::loadObjects()
{
    // Views, triggers, routines and events, from the file's own statements, in its order.
    LoadOptions objects;
    objects.connections = 1;
    objects.filter = isObjectStatement;
    objects.adapter = m_ctx.adapter;
    const LoadResult r = loadSqlFile(m_ctx.editedFilePath(), m_ctx.localTarget(m_ctx.NewDBName()), objects);
    if (r.outcome != LoadResult::Outcome::Loaded)
        throw RaisedError(r.errorNumber ? qint32(r.errorNumber) : 1, clientProgramName(), r.message);
}

void StagedSwap::remember(const ChangePlan &plan)
{
    DefinitionRecord record;
    for (auto t = plan.sourceCreate.constBegin(); t != plan.sourceCreate.constEnd(); ++t) {
        const auto rs = quietRows(QStringLiteral("SHOW CREATE TABLE ") + quoteIdentifier(m_ctx.NewDBName()) + u'.'
                                  + quoteIdentifier(t.key()));
        if (rs && rs->RecordCount() > 0)
            record.set(t.key(), t.value(), rs->row(0).value(1));
    }
    // Without it the next refresh compares the texts alone, which copies more, never less.
    if (!record.write(m_ctx.definitionsFilePath(), m_ctx.sourceIdentity()))
        removeFile(m_ctx.definitionsFilePath());
}

bool StagedSwap::objectDrops(QStringList &drops)
{
    const QString db = quoteString(m_ctx.NewDBName());
    const QString in = quoteIdentifier(m_ctx.NewDBName()) + u'.';
    struct Kind {
        QString list;
        QString drop;
    };
    const Kind kinds[] = {
        {QStringLiteral("SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = ") + db,
         QStringLiteral("DROP TRIGGER IF EXISTS ")},
        {QStringLiteral("SELECT TABLE_NAME FROM information_schema.VIEWS WHERE TABLE_SCHEMA = ") + db,
         QStringLiteral("DROP VIEW IF EXISTS ")},
        {QStringLiteral("SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_TYPE = 'PROCEDURE' "
                        "AND ROUTINE_SCHEMA = ") + db,
         QStringLiteral("DROP PROCEDURE IF EXISTS ")},
        {QStringLiteral("SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_TYPE = 'FUNCTION' "
                        "AND ROUTINE_SCHEMA = ") + db,
         QStringLiteral("DROP FUNCTION IF EXISTS ")},
        {QStringLiteral("SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = ") + db,
         QStringLiteral("DROP EVENT IF EXISTS ")},
    };
    for (const Kind &k : kinds) {
        bool listed = false;
        for (const QString &name : column(k.list, &listed))
            drops << k.drop + in + quoteIdentifier(name);
        if (!listed)
            return false;
    }
    return true;
}

bool StagedSwap::refresh(const QString &staging)
{
    const ChangePlan &plan = *m_ctx.changes;
    const QString name = m_ctx.NewDBName();
    const QString from = quoteIdentifier(staging) + u'.';
    const QString to = quoteIdentifier(name) + u'.';
    for (const QString &trigger : std::as_const(m_triggers)) {
        if (ExecuteSQL(QStringLiteral("DROP TRIGGER ") + from + quoteIdentifier(trigger)) < 0)
            return false;
    }
    QStringList gone, moves, drops;
    for (const QString &table : plan.dropped())
        gone << to + quoteIdentifier(table);
    for (const QString &table : std::as_const(m_tables)) {
        gone << to + quoteIdentifier(table);
        moves << from + quoteIdentifier(table) + QStringLiteral(" TO ") + to + quoteIdentifier(table);
    }
    if (!objectDrops(drops))
        return false;
    // A parent dropped with its children left in place: the child's constraint keeps naming it
    // and holds the table that takes its name. A parent renamed away would take the children's
    // constraints with it.
    quietRows(QStringLiteral("SET FOREIGN_KEY_CHECKS=0"));
    const auto checks = qScopeGuard([] { quietRows(QStringLiteral("SET FOREIGN_KEY_CHECKS=1")); });
    // Connections that merely use the database do not stand in the way; one whose lock does is
    // shown, and the user decides as for a whole replacement.
    for (;;) {
        if (!m_ctx.beginChanging())
            return false;
        const qint32 result = gone.isEmpty() ? 0 : tryStatement(QStringLiteral("DROP TABLE IF EXISTS ") + gone.join(QStringLiteral(", ")));
        if (result == 0)
            break;
        m_ctx.endChanging();
        if (result != kLockWaitTimeout)
            return false;
        messenger().addLog(QStringLiteral("Local DB(") + name + QStringLiteral(") 교체가 다른 연결의 잠금을 기다립니다."));
        if (!clearOtherSessions(m_ctx, name, m_ctx.stopReason))
            return false;
    }
    m_begun = true;
    // The database's own character set follows the source's, as a full copy makes it.
    if (!m_charset.isEmpty() && ExecuteSQL(QStringLiteral("ALTER DATABASE ") + quoteIdentifier(name) + u' ' + m_charset) < 0)
        return false;
    for (const QString &drop : std::as_const(drops)) {
        if (!runWaiting(drop))
            return false;
    }
    if (!moves.isEmpty()) {
        messenger().addLog(QStringLiteral("테이블 이동: ") + staging + QStringLiteral(" -> ") + name
                           + QStringLiteral(" (%1개)").arg(moves.size()));
        if (!runWaiting(QStringLiteral("RENAME TABLE ") + moves.join(QStringLiteral(", "))))
            return false;
    }
    for (const auto &[table, next] : plan.counters) {
        if (!runWaiting(QStringLiteral("ALTER TABLE ") + to + quoteIdentifier(table) + QStringLiteral(" AUTO_INCREMENT = ")
                        + next))
            return false;
    }
    loadObjects();
    remember(plan);
    messenger().addLog(QStringLiteral("Local DB 부분 교체 완료: ") + name
                       + QStringLiteral(" (테이블 교체 %1개, 삭제 %2개, 그대로 %3개)")
                             .arg(moves.size())
                             .arg(plan.dropped().size())
                             .arg(plan.unchanged.size()));
    m_ctx.replaced = true;
    DropDatabase(staging);
    return true;
}

}  // namespace velmar
