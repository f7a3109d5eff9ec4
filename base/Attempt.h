#pragma once

#include "RaisedError.h"

#include <QString>

#include <exception>
#include <optional>
#include <utility>

namespace velmar {

// Runs one step of a procedure. An unexpected error is reported in the procedure's name
// ("Error n (...) in procedure <procedure> of <unit>") and gives no value, so the caller decides
// how the procedure goes on: a stage returns false, the updater takes the step's fallback.
template <typename Step>
auto guarded(const QString &procedure, const QString &unit, Step &&step)
    -> std::optional<decltype(step())>
{
    try {
        return std::forward<Step>(step)();
    } catch (const std::exception &e) {
        reportError(RaisedError::from(e), procedure, unit);
        return std::nullopt;
    }
}

// guarded() with the value to go on with after an error.
template <typename Step, typename T>
T attempt(const QString &procedure, const QString &unit, Step &&step, T fallback)
{
    return guarded(procedure, unit, std::forward<Step>(step)).value_or(std::move(fallback));
}

}  // namespace velmar
