#pragma once

#include "CopyContext.h"
#include "modWaitProc.h"

#include <memory>

namespace velmar {

// A full copy whose import follows its dump: the dump runs on a thread of its own and, from its
// first output, the rewrite and the load follow what it writes, the load on the copy's thread.
// What it started and the import has not taken over (the partial rewrite, the database the load
// went into) is dropped when it goes, however the copy ends.
class FollowedCopy {
public:
    explicit FollowedCopy(CopyContext &ctx);
    ~FollowedCopy();
    FollowedCopy(const FollowedCopy &) = delete;
    FollowedCopy &operator=(const FollowedCopy &) = delete;

    // The dump, with the rewrite and the load beside it; ends when the dump has ended.
    bool dump();
    // Whether the rewrite and the load began: a dump that wrote nothing before it ended left them
    // to the separate steps.
    bool isFollowing() const { return m_following != nullptr; }
    // The rewrite's outcome, written while the dump was, tail included.
    bool rewrite();
    // Whether the load replaces an existing database (rather than making a new one).
    bool replacing() const;
    // The import takes the load over: its outcome, the rewrite committed to file. From here the
    // database the load went into is the import's.
    LoadResult takeLoad(const QString &file);

private:
    struct Following;
    // Runs the dump on a thread of its own and, from its first output, loads what it writes.
    RunResult dumpWhileLoading(const QString &program, const QStringList &arguments, RunOptions options);
    // The dump has begun to write: the rewrite begins, the database is made. false when refused
    // (shown) or cancelled.
    bool startFollowing();
    void abandon();

    CopyContext &m_ctx;
    std::unique_ptr<Following> m_following;
};

}  // namespace velmar
