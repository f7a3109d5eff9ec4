#pragma once

#include "CopyContext.h"

namespace velmar {

// Looks for the local database of the new name and decides what the import does with it: load
// into a new database, or replace the existing one once the user agreed (or chose to drop
// without asking). A staging database a crashed copy of this target left goes first.
class TargetCheck {
public:
    // host is the local server's name; only "localhost" lets a database be dropped.
    explicit TargetCheck(CopyContext &ctx, QString host = kLocalHost) : m_ctx(ctx), m_host(std::move(host)) {}
    TargetDecision run();

private:
    // The local database may be replaced: asked unless the user chose to drop without asking.
    bool replaceConsented(const QString &dbName);

    CopyContext &m_ctx;
    QString m_host;
};

}  // namespace velmar
