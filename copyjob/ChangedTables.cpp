#include "ChangedTables.h"

#include "Attempt.h"
#include "DefinitionRecord.h"
#include "Messenger.h"
#include "RaisedError.h"
#include "StatementAdapter.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>

#include <atomic>
#include <future>
#include <limits>
#include <map>

namespace velmar {

namespace {

constexpr int kComparisonLockWaitSeconds = 60;

// One side of the comparison: a connection of its own, inside one consistent snapshot.
class Side {
public:
    Side(const QString &host, QString database) : m_database(std::move(database))
    {
        m_open = m_mysql.real_connect(host, kRootUser, kRootPassword, QString(), 3306, QString(), 0, false);
        if (m_open) {
            // A table another connection holds locked (an IDE's LOCK TABLES, an ALTER) stops
            // the comparison with the server's message instead of holding it for good.
            rows(QStringLiteral("SET SESSION lock_wait_timeout = %1").arg(kComparisonLockWaitSeconds));
            rows(QStringLiteral("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
            rows(QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT"));
        }
    }
    bool isOpen() const { return m_open; }
    QString version() { return column(QStringLiteral("SELECT VERSION()")).value(0); }
    bool hasTriggers()
    {
        return !column(QStringLiteral("SELECT 1 FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = %1 LIMIT 1")
                           .arg(quoteString(m_database)))
                    .isEmpty();
    }
    cMySQL *connection() { return &m_mysql; }

    // Tables (not views) and their types, in name order.
    std::map<QString, QString> tables()
    {
        std::map<QString, QString> found;
        const auto rs = rows(QStringLiteral("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE "
                                            "TABLE_SCHEMA = %1 AND TABLE_TYPE <> 'VIEW'")
                                 .arg(quoteString(m_database)));
        for (qint32 i = 0; rs && i < rs->RecordCount(); ++i)
            found[rs->row(i).value(0)] = rs->row(i).value(1);
        return found;
    }
    QString create(const QString &table)
    {
        const auto rs = rows(QStringLiteral("SHOW CREATE TABLE ") + name(table));
        return rs && rs->RecordCount() > 0 ? rs->row(0).value(1) : QString();
    }
    // NULL (empty) where the engine keeps none, or where the server's value cannot be trusted:
    // a table with generated columns checksums differently from one reading to the next.
    QString checksum(const QString &table)
    {
        if (!column(QStringLiteral("SELECT 1 FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = %1 AND TABLE_NAME = %2"
                                   " AND IFNULL(GENERATION_EXPRESSION, '') <> '' LIMIT 1")
                        .arg(quoteString(m_database), quoteString(table)))
                 .isEmpty())
            return {};
        const auto rs = rows(QStringLiteral("CHECKSUM TABLE ") + name(table));
        return rs && rs->RecordCount() > 0 ? rs->row(0).value(1) : QString();
    }
    TableFingerprint fingerprint(const QString &table)
    {
        FingerprintColumns cols;
        cols.columns = column(fingerprintColumnsQuery(m_database, table));
        const auto rs = rows(fingerprintQuery(m_database, table, cols));
        if (!rs || rs->RecordCount() == 0)
            return {};
        return {rs->row(0).value(0).toLongLong(), rs->row(0).value(1)};
    }

private:
    QString name(const QString &table) const { return quoteIdentifier(m_database) + u'.' + quoteIdentifier(table); }
    std::unique_ptr<Recordset> rows(const QString &sql)
    {
        return m_mysql.real_query(sql, std::numeric_limits<qint32>::max());
    }
    QStringList column(const QString &sql)
    {
        QStringList values;
        const auto rs = rows(sql);
        for (qint32 i = 0; rs && i < rs->RecordCount(); ++i)
            values << rs->row(i).value(0);
        return values;
    }

    cMySQL m_mysql;
    QString m_database;
    bool m_open = false;
};

// The AUTO_INCREMENT=n table option of a definition; "1" (the start) where it shows none.
QString counter(const QString &create)
{
    static const QRegularExpression option(QStringLiteral(" AUTO_INCREMENT=(\\d+)"));
    const QRegularExpressionMatch m = option.match(create);
    return m.hasMatch() ? m.captured(1) : QStringLiteral("1");
}

// The same question to both sides at once: the source is often the slower one.
template <typename Ask>
auto both(Side &source, Side &local, Ask ask)
{
    auto there = std::async(std::launch::async, [&] { return ask(source); });
    auto here = ask(local);
    return std::make_pair(there.get(), std::move(here));
}

}  // namespace

bool ChangedTables::run()
{
    return guarded(QStringLiteral("ChangedTables"), kModMain, [this] { return compare(); }).value_or(false);
}

bool ChangedTables::compare()
{
    QElapsedTimer clock;
    clock.start();
    Side source(m_ctx.request.host.trimmed(), m_ctx.SourceDBName());
    if (!source.isOpen() || m_ctx.isCancelled())
        return false;
    Side local(kLocalHost, m_ctx.NewDBName());
    if (!local.isOpen())
        return false;
    // A cancel gives both up, so that a long CHECKSUM or a lock wait returns at once.
    m_ctx.addCancellable(source.connection());
    m_ctx.addCancellable(local.connection());
    const auto taken = qScopeGuard([&] {
        m_ctx.removeCancellable(source.connection());
        m_ctx.removeCancellable(local.connection());
    });
    try {
        auto [sourceTables, localTables] = both(source, local, [](Side &s) { return s.tables(); });
        // The same server version writes equal rows alike: another checksum is another content.
        const auto [sourceVersion, localVersion] = both(source, local, [](Side &s) { return s.version(); });
        const bool sameServer = sourceVersion == localVersion;
        ChangePlan plan;
        plan.triggers = source.hasTriggers();
        DefinitionRecord seen;
        seen.read(m_ctx.definitionsFilePath(), m_ctx.sourceIdentity());
        // Each side reads all it is asked in one go: neither waits for the other table by table.
        QStringList shared, fresh;
        for (const auto &[table, type] : sourceTables) {
            if (!localTables.count(table))
                fresh << table;
            else if (type == QStringLiteral("BASE TABLE"))
                shared << table;
        }
        const auto [there, here] = both(source, local, [&](Side &s) {
            std::map<QString, std::pair<QString, QString>> read;
            for (const QString &table : (&s == &source ? shared + fresh : shared)) {
                const QString create = s.create(table);
                read[table] = {create, shared.contains(table) ? s.checksum(table) : QString()};
            }
            return read;
        });
        std::map<QString, ChangeReason> reasons;
        QStringList unsettled;  // the fingerprint decides
        for (const QString &table : std::as_const(shared)) {
            const auto &[sourceCreate, sourceSum] = there.at(table);
            const auto &[localCreate, localSum] = here.at(table);
            plan.sourceCreate.insert(table, sourceCreate);
            if (!seen.same(table, sourceCreate, localCreate)) {
                reasons[table] = ChangeReason::Definition;
            } else if (sourceSum.isEmpty() || localSum.isEmpty()) {
                unsettled << table;
            } else if (sourceSum != localSum) {
                // Equal tables give other checksums under another server version (the
                // definitions, row format included, are equal by now): the fingerprint settles it.
                if (sameServer)
                    reasons[table] = ChangeReason::Content;
                else
                    unsettled << table;
            }
        }
        const auto [a, b] = both(source, local, [&](Side &s) {
            std::map<QString, TableFingerprint> prints;
            for (const QString &table : std::as_const(unsettled))
                prints[table] = s.fingerprint(table);
            return prints;
        });
        for (const QString &table : std::as_const(unsettled)) {
            if (!(a.at(table) == b.at(table)))
                reasons[table] = ChangeReason::Content;
        }
        for (const QString &table : std::as_const(fresh))
            plan.sourceCreate.insert(table, there.at(table).first);
        for (const auto &[table, type] : sourceTables) {
            ChangeReason reason = ChangeReason::None;
            if (fresh.contains(table))
                reason = ChangeReason::New;
            else if (type != QStringLiteral("BASE TABLE"))
                reason = ChangeReason::Always;
            else if (reasons.count(table))
                reason = reasons.at(table);
            if (reason != ChangeReason::None) {
                plan.changes.push_back({table, reason});
                continue;
            }
            plan.unchanged << table;
            // A table left as it is still takes the source's next AUTO_INCREMENT value.
            const QString next = counter(there.at(table).first);
            if (next != counter(here.at(table).first))
                plan.counters.emplace_back(table, next);
        }
        for (const auto &[table, type] : localTables) {
            if (!sourceTables.count(table))
                plan.changes.push_back({table, ChangeReason::Dropped});
        }

        for (const ChangePlan::Change &c : plan.changes)
            messenger().addLog(QStringLiteral("  ") + c.table + QStringLiteral(": ") + reasonText(c.reason));
        messenger().addLog(QStringLiteral("테이블 %1개 비교: 다시 복사 %2개, 삭제 %3개, 그대로 %4개 (비교 %5초)")
                               .arg(sourceTables.size() + plan.dropped().size())
                               .arg(plan.changes.size() - plan.dropped().size())
                               .arg(plan.dropped().size())
                               .arg(plan.unchanged.size())
                               .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
        // The changed tables' foreign keys keep pointing at the parents that stay.
        if (m_ctx.adapter) {
            QSet<QByteArray> staying;
            for (const QString &t : std::as_const(plan.unchanged))
                staying.insert(t.toUtf8());
            m_ctx.adapter->referElsewhere(m_ctx.NewDBName().toUtf8(), staying);
        }
        m_ctx.changes = std::move(plan);
        return true;
    } catch (const RaisedError &) {
        // A cancel gave the connections up: nothing to tell.
        if (m_ctx.isCancelled())
            return false;
        throw;
    }
}

}  // namespace velmar
