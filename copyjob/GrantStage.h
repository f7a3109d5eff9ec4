#pragma once

#include "CopyContext.h"

namespace velmar {

// The grants: the new user (and its "_ord" twin when asked) gets every right on the new
// database, from anywhere and from this machine.
class GrantStage {
public:
    explicit GrantStage(CopyContext &ctx) : m_ctx(ctx) {}
    bool run();

private:
    // What the rights are granted on; false when the tables could not be listed (shown).
    bool grantObjects(QStringList &objects);

    CopyContext &m_ctx;
};

}  // namespace velmar
