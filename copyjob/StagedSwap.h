#pragma once

#include "CopyContext.h"

namespace velmar {

// Replaces the user's database by the loaded staging database: drop, create, move the tables,
// create the views, triggers, routines and events from the file. Nothing of the user's is
// touched until every question about the staging database has been answered.
class StagedSwap {
public:
    explicit StagedSwap(CopyContext &ctx) : m_ctx(ctx) {}
    bool run(const QString &staging);

private:
    // What the swap needs to know of the staging database; false after a failure (shown).
    bool read(const QString &staging);
    bool replace(const QString &staging);

    CopyContext &m_ctx;
    QStringList m_triggers;
    QStringList m_tables;
    QString m_charset;  // "CHARACTER SET ... COLLATE ..." of the staging database
};

}  // namespace velmar
