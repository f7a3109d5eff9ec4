#pragma once

#include "CopyContext.h"
#include "modWaitProc.h"

#include <functional>

namespace velmar {

// The dump: the dump program writes the source database into <dump file>.part, which replaces
// the dump file only once the dump has succeeded, so an earlier dump stays whole until then.
class DumpStage {
public:
    // Runs the dump program and returns once it has ended. The options carry the output file
    // and the first-output timeout; the runner adds its own cancel and progress.
    using Runner = std::function<RunResult(const QString &program, const QStringList &arguments, RunOptions options)>;

    explicit DumpStage(CopyContext &ctx) : m_ctx(ctx) {}
    // On the copy's thread, with the dump's progress.
    bool run();
    // With another runner; stopped is called when the dump failed, was cancelled or the runner
    // raised, before the reason is shown.
    bool run(const Runner &runner, const std::function<void()> &stopped);

private:
    CopyContext &m_ctx;
};

}  // namespace velmar
