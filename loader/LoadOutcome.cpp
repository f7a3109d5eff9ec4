#include "LoadOutcome.h"

#include "LoadStop.h"
#include "LoaderConnection.h"

namespace velmar::load {

LoadResult failedLoad(const QString &message)
{
    LoadResult r;
    r.outcome = LoadResult::Outcome::Failed;
    r.message = message;
    return r;
}

LoadResult loadOutcome(const LoadStop &stop, const ReadingEnd &end, const SentCounts &sent,
                       LoaderConnection &control, const QString &path)
{
    LoadResult r;
    r.statements = sent.statements;
    r.connections = sent.connections;
    r.asData = sent.asData;
    if (stop.state() == LoadStop::State::Cancelled) {
        r.outcome = LoadResult::Outcome::Cancelled;
        return r;
    }
    if (stop.state() == LoadStop::State::Failed) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = stop.failure().message;
        r.errorNumber = stop.failure().error;
        if (connectionLost(r.errorNumber)) {
            bool alive = false;
            control.value("SELECT 1", &alive);
            r.message += alive
                ? QStringLiteral(" (the server still runs: this connection was killed or closed by it)")
                : QStringLiteral(" (the server does not answer any more: it stopped or restarted)");
        }
        return r;
    }
    if (!end.needsClient.isEmpty()) {
        r.outcome = LoadResult::Outcome::NeedsClient;
        r.message = end.needsClient;
        return r;
    }
    if (!end.tooBig.isEmpty()) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = end.tooBig;
        return r;
    }
    if (!end.readError.isEmpty()) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = QStringLiteral("Cannot read %1: %2").arg(path, end.readError);
        return r;
    }
    r.outcome = LoadResult::Outcome::Loaded;
    return r;
}

}  // namespace velmar::load
