#pragma once

#include "RaisedError.h"

#include <functional>

namespace velmar::test {

// Runs f and returns the RaisedError it raised; Number -1 when it raised none.
inline RaisedError raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RaisedError &e) {
        return e;
    }
    return RaisedError(-1, QString(), QString());
}

}  // namespace velmar::test
