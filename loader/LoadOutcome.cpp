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
                ? QStringLiteral(" (서버는 동작 중입니다: 이 연결이 서버에서 끊겼습니다)")
                : QStringLiteral(" (서버가 더 이상 응답하지 않습니다: 멈췄거나 다시 시작되었습니다)");
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
        r.message = QStringLiteral("%1 파일을 읽을 수 없습니다: %2").arg(path, end.readError);
        return r;
    }
    r.outcome = LoadResult::Outcome::Loaded;
    return r;
}

}  // namespace velmar::load
