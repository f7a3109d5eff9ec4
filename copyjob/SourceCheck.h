#pragma once

#include "CopyContext.h"

namespace velmar {

// Looks for the source database on the request's host and records in the context what the
// dump and the import need to know of it: its character set and collation, its size, and what
// the dump options leave out of it.
class SourceCheck {
public:
    explicit SourceCheck(CopyContext &ctx) : m_ctx(ctx) {}
    // Unknown after a failed look (the reason has been shown).
    DbPresence run();

private:
    void readFacts(const QString &dbName);
    static QString factsQuery(const QString &schema);
    void readSizes(const QStringList &row);
    // For a source elsewhere, when the dump options leave it open: measures the link and decides
    // whether the dump compresses.
    void chooseCompression();

    CopyContext &m_ctx;
};

}  // namespace velmar
