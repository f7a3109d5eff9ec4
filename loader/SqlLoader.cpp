#include "SqlLoader.h"

#include "ConnectionPool.h"
#include "LoadDispatcher.h"
#include "LoadOutcome.h"
#include "LoadStop.h"
#include "StatementSource.h"

#include <QThread>

#include <algorithm>

namespace velmar {

namespace {

constexpr int kMaxConnections = 16;

// One load: the statement source reads the file, the dispatcher places its statements on the
// connection pool's queues, and the outcome is built from the stop state and how the reading ended.
class Loader {
public:
    Loader(const QString &path, const LoadTarget &target, const LoadOptions &options)
        : m_path(path), m_target(target), m_options(options), m_stop(m_options.cancel),
          m_source(m_path, m_target, m_options, m_stop), m_pool(m_stop)
    {
    }

    LoadResult run();

private:
    QString m_path;
    LoadTarget m_target;
    LoadOptions m_options;
    load::LoadStop m_stop;  // outlives the files and connections that ask it
    load::StatementSource m_source;
    load::ConnectionPool m_pool;
};

LoadResult Loader::run()
{
    QString openError;
    if (!m_source.open(&openError))
        return load::failedLoad(QStringLiteral("%1 파일을 열 수 없습니다: %2").arg(m_path, openError));
    const int requested = m_options.connections > 0 ? m_options.connections : defaultImportConnections();
    const int count = std::clamp(requested, 1, kMaxConnections);
    load::ServerFacts server;
    const QString notConnected = m_pool.open(m_target, count, server);
    if (!notConnected.isEmpty())
        return load::failedLoad(notConnected);
    m_source.setServer(server.version, server.defaultEngine);
    load::LoadDispatcher dispatcher(m_source, m_pool, m_stop, m_options, server.maxPacket);
    // Rows go to several connections only while foreign keys are not checked: with checks on,
    // a row may need one sent earlier on another connection.
    if (!dispatcher.readSession())
        return load::failedLoad(m_pool.first().errorText());
    m_pool.start();
    const load::ReadingEnd end = dispatcher.run();
    m_pool.close();

    const load::SentCounts sent{m_pool.sent(), int(m_pool.regular()), m_pool.asData()};
    LoadResult r = load::loadOutcome(m_stop, end, sent, m_pool.control(), m_path);
    r.figures = m_pool.figures();
    r.figures.dumpWaitMs = m_source.waitedMs();
    if (r.outcome == LoadResult::Outcome::Loaded && m_options.progress)
        m_options.progress(m_source.total(), m_source.total());
    return r;
}

}  // namespace

int defaultImportConnections()
{
    return std::clamp(QThread::idealThreadCount() + 1, 2, 6);
}

LoadResult loadSqlFile(const QString &path, const LoadTarget &target, const LoadOptions &options)
{
    Loader loader(path, target, options);
    return loader.run();
}

}  // namespace velmar
