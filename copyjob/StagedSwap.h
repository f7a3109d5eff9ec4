#pragma once

#include "CopyContext.h"

namespace velmar {

// Puts the loaded staging database in the place of the user's database: drop the old one (when
// replacing), create, move the tables, create the views, triggers, routines and events from the
// file. Nothing of the user's is touched until every question about the staging database has
// been answered, no other connection uses the old database and no cancel has come; from the drop
// on, the swap runs to its end.
class StagedSwap {
public:
    explicit StagedSwap(CopyContext &ctx) : m_ctx(ctx) {}
    // replacing: a database of the new name exists and goes first.
    bool run(const QString &staging, bool replacing);
    // Whether the swap got as far as changing the user's side (a failure then leaves the staging
    // database for the next copy, since it may hold the only copy of the tables).
    bool begun() const { return m_begun; }

private:
    // What the swap needs to know of the staging database; false after a failure (shown).
    bool read(const QString &staging);
    bool replace(const QString &staging, bool replacing);
    // A refresh: the changed tables take their old versions' places, the ones the source dropped
    // go, the rest stay; every view, trigger, routine and event is made again.
    bool refresh(const QString &staging);
    // The user's database's views, triggers, routines and events as DROP statements; false
    // after a failure (shown).
    bool objectDrops(QStringList &drops);
    // Records the definitions both servers now have of the source's tables.
    void remember(const ChangePlan &plan);
    // The file's views, triggers, routines and events, in the user's database.
    void loadObjects();
    // A statement that may wait for another connection's lock: tried again until it runs.
    bool runWaiting(const QString &statement);

    CopyContext &m_ctx;
    QStringList m_triggers;
    QStringList m_tables;
    QString m_charset;  // "CHARACTER SET ... COLLATE ..." of the staging database
    bool m_begun = false;
};

}  // namespace velmar
