#pragma once

#include "SqlStatementReader.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <map>
#include <mutex>
#include <set>

namespace velmar::load {

// What the local server lacks of what a dump may hold, and what to put in its place.
struct AdaptRules {
    // The local server's collations (lower case); empty: collations are left alone.
    QSet<QByteArray> collations;
    // A MySQL 8 (or later) server, which refuses NO_AUTO_CREATE_USER; a MariaDB server, which
    // refuses MySQL 8's DEFAULT ENCRYPTION of a database.
    bool mysql8 = false;
    bool mariadb = false;
    // The source database's name inside view, trigger, routine and event bodies becomes toDatabase.
    QByteArray fromDatabase;
    QByteArray toDatabase;
    // The local accounts as "user@host"; a definer not among them becomes definerTo
    // ("`user`@`host`"), or, with definerTo empty, stays and is listed in missingDefiners().
    QSet<QByteArray> accounts;
    QByteArray definerTo;
};

// The closest collation of those the local server has for one it lacks; "" when none fits.
QByteArray closestCollation(const QByteArray &missing, const QSet<QByteArray> &present);

// Rewrites statements on their way to the local server so that a dump from another kind or
// version of server loads; the file stays as written. Each change is counted once per statement
// of the file (a file loaded twice, as the swap does for its objects, counts once).
class StatementAdapter {
public:
    explicit StatementAdapter(AdaptRules rules) : m_rules(std::move(rules)) { }

    // false: the statement is not sent at all. database: the one the load goes into, which the
    // source's name becomes in object bodies (a staging database's own objects must read it);
    // empty: toDatabase.
    bool adapt(SqlStatement &s, const QByteArray &database = QByteArray());
    // A foreign key of a table the load makes that references one of tables (names unquoted)
    // names it in database: the parents of a partial load stay where they are. Set before the
    // load starts.
    void referElsewhere(const QByteArray &database, const QSet<QByteArray> &tables);
    // One log line per kind of change, with its count, in a fixed order.
    QStringList summary() const;
    // The definers the load kept that the local server lacks, as "user@host".
    QStringList missingDefiners() const;

    enum class Change { Gtid, LogBin, Collation, Encryption, Invisible, OwnName, Definer, SqlMode };

private:
    bool dropped(const SqlStatement &s);
    void noteChange(Change c, const SqlStatement &s, const QByteArray &detail = QByteArray());
    void collations(SqlStatement &s);
    void invisible(SqlStatement &s);
    void ownName(SqlStatement &s, const QByteArray &to);
    void definer(SqlStatement &s);
    void sqlMode(SqlStatement &s);
    void references(SqlStatement &s) const;

    AdaptRules m_rules;
    QByteArray m_elsewhereDatabase;
    QSet<QByteArray> m_elsewhere;
    mutable std::mutex m_lock;
    std::map<Change, std::set<qint64>> m_seen;          // the file offsets changed, by kind
    std::map<QByteArray, QByteArray> m_collationsUsed;  // missing -> used instead
    std::set<QByteArray> m_definersUsed;
    std::set<QByteArray> m_definersKept;
};

}  // namespace velmar::load
