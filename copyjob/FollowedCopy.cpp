#include "FollowedCopy.h"

#include "Attempt.h"
#include "DumpRewrite.h"
#include "DumpStage.h"
#include "GrowingFile.h"
#include "LocalServer.h"
#include "Messenger.h"
#include "RewriteStage.h"
#include "RaisedError.h"

#include <QThread>
#include <QScopeGuard>

#include <mutex>

namespace velmar {

struct FollowedCopy::Following {
    Following(const QString &dump, const QString &out) : rewrite(dump, out) {}

    FollowingRewrite rewrite;  // its outcome is the rewrite step's
    LoadResult result;  // once the dump has ended
};

namespace {

// The dump's thread and the copy's thread meet here. Only the dump's thread touches the rewrite
// until it ends (under lock, ended then).
struct DumpRun {
    std::mutex lock;
    bool ended = false;
    FollowingRewrite *rewrite = nullptr;  // once the import follows
    std::atomic_bool stop{false};
    std::atomic<qint64> written{0};
    RunResult result;

    // Once the dump has ended, the rest of it and the tail bring the load to its end.
    void endRewrite()
    {
        if (!rewrite)
            return;
        if (result.cancelled || !result.succeeded())
            return rewrite->abandon(QStringLiteral("덤프가 끝나지 않았습니다"));
        rewrite->drain();
        rewrite->finish();
    }
};

}  // namespace

FollowedCopy::FollowedCopy(CopyContext &ctx) : m_ctx(ctx) {}

FollowedCopy::~FollowedCopy()
{
    abandon();
}

bool FollowedCopy::replacing() const
{
    return m_ctx.target == TargetDecision::Replace;
}

bool FollowedCopy::dump()
{
    return DumpStage(m_ctx).run(
        [this](const QString &program, const QStringList &arguments, RunOptions options) {
            return dumpWhileLoading(program, arguments, std::move(options));
        },
        // Before the box: the load is dropped, the old database stays.
        [this] { abandon(); });
}

RunResult FollowedCopy::dumpWhileLoading(const QString &program, const QStringList &arguments, RunOptions options)
{
    DumpRun run;
    options.cancel = &run.stop;
    options.progress = [this, &run](qint64 written, qint64) {
        if (m_ctx.isCancelled())
            run.stop = true;
        run.written = written;
        // A failure stops the load now; the rewrite step reports it once the dump is done.
        std::lock_guard<std::mutex> lock(run.lock);
        if (run.rewrite)
            run.rewrite->pump();
    };
    const std::unique_ptr<QThread> dumper(QThread::create([&] {
        RunResult result = RunAndWait(program, arguments, m_ctx.request.programFolder, true, false, options);
        std::lock_guard<std::mutex> lock(run.lock);
        run.result = std::move(result);
        run.ended = true;
        run.endRewrite();
    }));
    dumper->setObjectName(QStringLiteral("dump"));
    dumper->start();
    // However this function is left, the dump's thread has ended first.
    const auto joined = qScopeGuard([&] {
        run.stop = true;
        dumper->wait();
    });

    // The first bytes mean the source answers: the rewrite and the import begin beside the dump.
    while (run.written == 0 && !dumper->wait(10)) {
    }
    bool refused = false;  // the import could not begin: its box has been shown
    std::exception_ptr followError;
    if (run.written > 0 && !m_ctx.isCancelled()) {
        try {
            refused = !startFollowing();
        } catch (...) {
            followError = std::current_exception();
        }
        if (m_following) {
            std::lock_guard<std::mutex> lock(run.lock);
            run.rewrite = &m_following->rewrite;
            if (run.ended)  // a dump shorter than the first look at it
                run.endRewrite();
        }
    }
    if (m_following) {
        // Loaded here, on the copy's own thread, while the dump goes on.
        LoadOptions load = m_ctx.loadOptions();
        load.growing = m_following->rewrite.file();
        m_following->result = loadSqlFile(m_ctx.editedFilePath() + QStringLiteral(".part"),
                                          m_ctx.localTarget(m_ctx.loadDatabase()), load);
    } else if (refused || followError) {
        run.stop = true;
    }
    // The dump goes on to its end, so that its files are whole whatever the load did.
    while (!dumper->wait(100)) {
        if (m_ctx.isCancelled())
            run.stop = true;
    }
    if (followError)
        std::rethrow_exception(followError);
    RunResult result = run.result;
    if (refused)
        result.cancelled = true;
    return result;
}

bool FollowedCopy::startFollowing()
{
    const QString output = m_ctx.editedFilePath();
    auto f = std::make_unique<Following>(m_ctx.dumpFilePath() + QStringLiteral(".part"),
                                         output + QStringLiteral(".part"));
    m_ctx.startStage(CopyStage::Rewrite);
    messenger().addLog(QStringLiteral("DumpFile Edit..."));
    if (!f->rewrite.begin())
        throw fileError(err::PathFileAccess, output, f->rewrite.errorString());
    messenger().addLog(headLogLine(output));

    m_ctx.startStage(CopyStage::Import);
    messenger().addLog(QStringLiteral("Import..."));
    // The room for an old database beside its replacement was judged before the dump began.
    const QString database = m_ctx.loadDatabase();
    if (m_ctx.isCancelled() || !createDatabase(m_ctx, database))
        return false;  // the refusal has been shown
    messenger().addLog(clientCommandLine(output, database));
    messenger().addLog(
        QStringLiteral("velmar 로더로 가져옵니다 (연결 %1개, 덤프와 동시에)").arg(m_ctx.loadOptions().connections));
    m_following = std::move(f);
    return true;
}

bool FollowedCopy::rewrite()
{
    const QString input = m_ctx.dumpFilePath();
    const QString output = m_ctx.editedFilePath();
    return guarded(QStringLiteral("STEP_EditSQLFile"), kModMain, [&] {
        const FollowingRewrite &w = m_following->rewrite;
        if (w.outcome() == RewriteOutcome::ReadFailed)
            throw fileError(err::InputPastEnd, input);
        if (w.outcome() != RewriteOutcome::Done)
            throw fileError(err::DiskFull, output, w.errorString());
        messenger().addLog(tailLogLine(output));
        return true;
    }).value_or(false);
}

LoadResult FollowedCopy::takeLoad(const QString &file)
{
    const std::unique_ptr<Following> f = std::move(m_following);
    LoadResult r = f->result;
    // Named as the file is named once complete.
    r.message.replace(file + QStringLiteral(".part"), file);
    if (!f->rewrite.commit(file))
        throw fileError(err::PathFileAccess, file, f->rewrite.errorString());
    return r;
}

void FollowedCopy::abandon()
{
    if (!m_following)
        return;
    m_following.reset();  // the load has stopped: the partial rewrite goes
    guarded(QStringLiteral("SETP_DBImport"), kModMain, [&] {
        discardLoad(m_ctx, m_ctx.loadDatabase(), replacing());
        return true;
    });
}

}  // namespace velmar
