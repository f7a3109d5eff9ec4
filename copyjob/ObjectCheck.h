#pragma once

#include "CopyContext.h"

#include <optional>

namespace velmar {

// After the copy is in and granted: says what the load adapted, makes the definers the user chose
// to have made, and tries every object: each view is selected from (LIMIT 0), each routine's,
// trigger's and event's definer must exist. A broken object stops the copy with its name, so no
// "복사완료" is said over it.
class ObjectCheck {
public:
    explicit ObjectCheck(CopyContext &ctx) : m_ctx(ctx) { }
    bool run();

private:
    bool createDefiners();
    // One line per object that does not work; nothing when the look was refused (shown).
    std::optional<QStringList> brokenObjects();

    CopyContext &m_ctx;
};

}  // namespace velmar
