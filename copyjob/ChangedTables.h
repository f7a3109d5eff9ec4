#pragma once

#include "CopyContext.h"

namespace velmar {

// Finds which tables of the source differ from the local database of the new name, in one
// consistent snapshot on each server (no lock that stops the source's writers), and records what
// the refresh does in the context's change plan. A table is copied again when it is new, when its
// definition differs (its AUTO_INCREMENT counter aside) or when its content does: equal
// CHECKSUM TABLE values on both sides vouch for equal content, other values are settled by the
// fingerprint both servers compute alike. Tables the source no longer has are dropped.
class ChangedTables {
public:
    explicit ChangedTables(CopyContext &ctx) : m_ctx(ctx) {}
    // false: the copy stops (a failure has been shown, or a cancel came).
    bool run();

private:
    bool compare();

    CopyContext &m_ctx;
};

}  // namespace velmar
