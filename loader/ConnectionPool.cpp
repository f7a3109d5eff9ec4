#include "ConnectionPool.h"

#include "LoadStop.h"
#include "RowsAsData.h"
#include "SqlLoader.h"
#include "StatementSource.h"

namespace velmar::load {

namespace {

using namespace std::chrono_literals;

// A big INSERT or an index build may run long; a cancel never waits on these (it kills).
constexpr unsigned kReadTimeout = 3600;
constexpr unsigned kWriteTimeout = 600;
constexpr unsigned kControlTimeout = 10;
constexpr int kDeadlockRetries = 3;
constexpr unsigned kDeadlock = 1213;
constexpr unsigned kLockWaitTimeout = 1205;
// Statements waiting per connection besides the running one: enough to keep each connection
// busy, few enough that memory stays at a handful of statements.
constexpr size_t kQueueDepth = 2;
// Two tables' keys may be built at once: the last tables' rows often end together, and one
// index build keeps one processor busy.
constexpr int kKeyConnections = 2;
// What an index build may use in the key connections' sessions, where the server has it for a
// session: MySQL 8.0.27 on sorts a new index in innodb_ddl_buffer_size (1 MiB by default) and
// merges what overflows through files. MariaDB has no such session variable (its
// innodb_sort_buffer_size is global and read only) and refuses it, which changes nothing.
const QByteArray kKeySessionSettings[] = {"innodb_ddl_buffer_size = 33554432"};

QString cannotConnect(const LoadTarget &target, const LoaderConnection &c)
{
    return QStringLiteral("서버(%1, DB %2)에 접속할 수 없습니다: %3")
        .arg(target.host, target.database, c.errorText());
}

}  // namespace

ConnectionPool::ConnectionPool(LoadStop &stop) : m_stop(stop) {}

ConnectionPool::~ConnectionPool()
{
    close();
}

QString ConnectionPool::open(const LoadTarget &target, int count, ServerFacts &server)
{
    m_control = std::make_unique<LoaderConnection>();
    if (!m_control->open(target, kControlTimeout, kControlTimeout))
        return cannotConnect(target, *m_control);
    bool ok = false;
    server.maxPacket = m_control->value("SELECT @@max_allowed_packet", &ok).toLongLong();
    if (!ok)
        return m_control->errorText();
    server.version = m_control->serverVersion();
    const QList<QByteArray> facts
        = m_control->value("SELECT CONCAT_WS(',', @@local_infile + 0, @@default_storage_engine)").split(',');
    server.localInfile = facts.value(0) == "1";
    server.defaultEngine = facts.value(1);
    m_dataWorks = server.localInfile;

    for (int i = 0; i < count; ++i) {
        const QString error = openWorker(target);
        if (!error.isEmpty())
            return error;
    }
    m_regular = m_workers.size();
    // More connections build tables' deferred keys while the next tables load.
    for (int i = 0; count > 1 && i < kKeyConnections; ++i) {
        const QString error = openWorker(target);
        if (!error.isEmpty())
            return error;
        m_workers.back()->keys = true;
        for (const QByteArray &setting : kKeySessionSettings)
            m_workers.back()->connection->setSession(setting);
    }
    return {};
}

QString ConnectionPool::openWorker(const LoadTarget &target)
{
    auto w = std::make_unique<Worker>();
    w->connection = std::make_unique<LoaderConnection>();
    if (!w->connection->open(target, kReadTimeout, kWriteTimeout))
        return cannotConnect(target, *w->connection);
    w->threadId = w->connection->threadId();
    m_workers.push_back(std::move(w));
    return {};
}

void ConnectionPool::start()
{
    m_clock.start();
    for (auto &w : m_workers) {
        Worker *worker = w.get();
        w->thread = std::thread([this, worker] { workerLoop(*worker); });
    }
}

LoadFigures ConnectionPool::figures() const
{
    LoadFigures f = m_figures;
    f.totalMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    f.afterRowsMs = m_lastRowsEnd >= 0 ? f.totalMs - m_lastRowsEnd : 0;
    return f;
}

void ConnectionPool::close()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.close();
    }
    m_workCv.notify_all();
    for (auto &w : m_workers) {
        if (w->thread.joinable())
            w->thread.join();
    }
}

bool ConnectionPool::idle() const
{
    return std::all_of(m_workers.begin(), m_workers.end(), [](const auto &w) { return w->idle(); });
}

bool ConnectionPool::onlySegmentBusy() const
{
    return m_segment && std::all_of(m_workers.begin(), m_workers.end(),
                                    [&](const auto &w) { return inSegment(w.get()) || w->idle(); });
}

bool ConnectionPool::keysBusyWith(const QByteArray &table) const
{
    return std::any_of(m_workers.begin(), m_workers.end(),
                       [&](const auto &w) { return w->keys && !w->idle() && w->keysTables.contains(table); });
}

bool ConnectionPool::inSegment(const Worker *w) const
{
    return m_segment && std::count(m_segment->workers.begin(), m_segment->workers.end(), w);
}

bool ConnectionPool::rowWorker(const Worker *w) const
{
    return !w->keys && !inSegment(w);
}

bool ConnectionPool::segmentLoads(const QByteArray &table) const
{
    return m_segment && m_segment->rows->table() == table;
}

bool ConnectionPool::rowRoom() const
{
    return std::any_of(m_workers.begin(), m_workers.end(),
                       [&](const auto &w) { return rowWorker(w.get()) && w->queue.size() < kQueueDepth; });
}

void ConnectionPool::queueRows(Job job)
{
    Worker *best = nullptr;
    for (auto &w : m_workers) {
        if (rowWorker(w.get()) && (!best || w->queue.size() + w->busy < best->queue.size() + best->busy))
            best = w.get();
    }
    ++m_rowsInFlight[job.table];
    best->queue.push_back(std::move(job));
}

// A table's foreign keys follow its keys on the same connection.
void ConnectionPool::queueKeys(const QByteArray &table, Job job)
{
    Worker *best = nullptr;
    for (auto &w : m_workers) {
        if (!w->keys)
            continue;
        if (w->keysTables.contains(table)) {
            best = w.get();
            break;
        }
        if (!best || w->queue.size() + w->busy < best->queue.size() + best->busy)
            best = w.get();
    }
    best->queue.push_back(std::move(job));
    best->keysTables.insert(table);
}

// Two connections of the statements', at least one left for the others.
void ConnectionPool::queueSegment(std::shared_ptr<Segment> segment, qint64 line)
{
    for (size_t i = std::max<size_t>(1, m_regular - 2); i < m_regular; ++i) {
        Worker *worker = m_workers[i].get();
        segment->workers.push_back(worker);
        worker->queue.push_back(Job{.line = line, .segment = segment});
    }
    m_segment = std::move(segment);
}

void ConnectionPool::waitDone(std::unique_lock<std::mutex> &lock, std::chrono::milliseconds most)
{
    m_doneCv.wait_for(lock, most);
}

void ConnectionPool::workerLoop(Worker &w)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workCv.wait(lock, [&] { return m_stop.closing() || !w.queue.empty(); });
        if (w.queue.empty())
            return;
        if (!m_stop.running()) {
            // Nothing after a failed statement or a cancel is sent.
            for (const Job &j : w.queue)
                m_progress.inFlight -= j.bytes;
            w.queue.clear();
            m_doneCv.notify_all();
            continue;
        }
        Job job = std::move(w.queue.front());
        w.queue.pop_front();
        w.busy = true;
        if (job.segment)
            runSegment(w, *job.segment, lock);
        else
            runStatement(w, job, lock);
        w.busy = false;
        m_doneCv.notify_all();
    }
}

// A statement from a queue: once sent, the dispatcher hears of a table whose last rows are in.
void ConnectionPool::runStatement(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock)
{
    execute(w, job, lock);
    m_progress.inFlight -= job.bytes;
    if (!job.table.isEmpty() && --m_rowsInFlight[job.table] == 0) {
        m_rowsInFlight.remove(job.table);
        m_rowsIn(job.table);
    }
    if (w.keys && w.queue.empty())
        w.keysTables.clear();
}

// Sends one statement on w's connection, the lock let go meanwhile, and records a failure.
void ConnectionPool::execute(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock)
{
    if (job.counted)
        ++m_sent;
    const qint64 began = m_clock.elapsed();
    lock.unlock();
    LoaderConnection &c = *w.connection;
    bool ok = false;
    if (!sendRows(c, job, ok))
        ok = c.exec(job.text);
    // Rows sent at the same time may deadlock on a unique index; the server rolled back
    // that statement alone (its own transaction, committed below), so it is sent again.
    for (int retry = 0; !ok && job.rows && c.errorNumber() == kDeadlock && retry < kDeadlockRetries; ++retry)
        ok = c.exec(job.text);
    if (!ok && !job.afterRows.isEmpty() && !connectionLost(c.errorNumber()) && !buildAfterRows(c, job, ok, lock))
        return;
    // With autocommit off the file would build one transaction over all its rows; each
    // statement is committed instead, so the server never holds it, a retried batch is
    // the whole transaction, and no connection keeps locks that another one waits for.
    if (ok && c.inTransaction())
        ok = c.exec(QByteArrayLiteral("COMMIT"));
    const unsigned error = ok ? 0 : c.errorNumber();
    const QString message = ok ? QString() : c.errorText(job.line);
    lock.lock();
    const qint64 ended = m_clock.elapsed();
    if (job.rows) {
        m_figures.rowsMs += ended - began;
        m_lastRowsEnd = ended;
    } else if (job.keys) {
        m_figures.keysMs += ended - began;
        ++m_figures.keyTables;
    } else if (job.foreignKeys) {
        m_figures.foreignKeysMs += ended - began;
    }
    if (!ok)
        m_stop.fail(job.line, message, error);
}

// The server gave up an index built beside the rows (its log of the rows that came meanwhile
// outgrew innodb_online_alter_log_max_size, or it cannot build that one online): it is built
// again once they are in, as it would have been. The early build begins only once the reading has
// ended, so the segment still loading is that table's. Called and returns with the lock let go;
// after another connection's failure or a cancel, which is the load's outcome, it returns false
// with the lock held.
bool ConnectionPool::buildAfterRows(LoaderConnection &c, const Job &job, bool &ok, std::unique_lock<std::mutex> &lock)
{
    lock.lock();
    while (m_stop.running() && m_segment)
        m_doneCv.wait_for(lock, 50ms);
    if (!m_stop.running())
        return false;
    lock.unlock();
    ok = c.exec(job.afterRows);
    return true;
}

// Sends a row INSERT as LOAD DATA when it converts; false when it did not, and the INSERT itself
// is to be sent. The LOAD DATA runs in a transaction of its own: when the server took the rows
// otherwise than the INSERT would have (a warning, a duplicate skipped), they are rolled back
// and the INSERT goes instead, with its own outcome.
bool ConnectionPool::sendRows(LoaderConnection &c, const Job &job, bool &ok)
{
    RowsAsData d;
    if (job.dataCharset.isEmpty() || !m_dataWorks || !rowsAsData(job.text, job.dataCharset, d))
        return false;
    ok = c.exec(QByteArrayLiteral("START TRANSACTION")) && c.loadData(d.statement, d.data, d.rows);
    // A deadlock rolled the whole transaction back: the same rows go again, as LOAD DATA.
    for (int retry = 0; !ok && c.errorNumber() == kDeadlock && retry < kDeadlockRetries; ++retry)
        ok = c.exec(QByteArrayLiteral("START TRANSACTION")) && c.loadData(d.statement, d.data, d.rows);
    if (ok) {
        ++m_asData;
        return true;
    }
    if (connectionLost(c.errorNumber()))
        return true;
    // An error rather than a poor answer: the server or its settings refuse LOAD DATA LOCAL
    // (local_infile off, ...), so the rest go as INSERTs. A lock that another connection held
    // says nothing of that: these rows go as an INSERT, the next ones as LOAD DATA again.
    const unsigned error = c.errorNumber();
    if (error != 0 && error != kDeadlock && error != kLockWaitTimeout)
        m_dataWorks = false;
    ok = c.exec(QByteArrayLiteral("ROLLBACK"));
    // After a cancel or another connection's failure nothing more is sent.
    return !ok || !m_stop.running();
}

// Takes the segment's rows one statement after the other, up to the first statement that is
// not one (the dispatcher passes over the same ones), then has the table's keys built.
void ConnectionPool::runSegment(Worker &w, Segment &segment, std::unique_lock<std::mutex> &lock)
{
    ++segment.running;
    SqlStatement s;
    while (m_stop.running() && !segment.rows->exhausted()) {
        lock.unlock();
        Job job;
        QString readError;
        qint64 bytes = 0;
        if (segment.rows->take(s, bytes, readError)) {
            job = Job{.text = std::move(s.text),
                      .line = s.line,
                      .bytes = bytes,
                      .rows = true,
                      .counted = true,
                      .dataCharset = segment.dataCharset};
        }
        lock.lock();
        if (!readError.isEmpty() && !m_stop.readerGivesUp())
            m_stop.fail(s.line, QStringLiteral("%1 파일을 읽을 수 없습니다: %2").arg(segment.rows->path(), readError), 0);
        if (job.text.isEmpty())
            break;
        execute(w, job, lock);
        m_progress.segmentDone += job.bytes;
    }
    // The last connection out ends it (unless a late one finds it ended): the other
    // connections take rows again, and the table's keys are built.
    if (--segment.running > 0 || m_segment.get() != &segment)
        return;
    const QByteArray table = segment.rows->table();
    m_segment.reset();
    m_rowsIn(table);
}

// Stops every connection within a second: the queues are dropped, the running statements are
// killed through the loader's own connection, and a connection that still has not answered
// (a server that hangs) has its socket shut.
void ConnectionPool::cancel(std::unique_lock<std::mutex> &lock)
{
    m_stop.cancel();
    std::vector<unsigned long> running;
    for (auto &w : m_workers) {
        for (const Job &j : w->queue)
            m_progress.inFlight -= j.bytes;
        w->queue.clear();
        if (w->busy)
            running.push_back(w->threadId);
    }
    if (running.empty())
        return;
    lock.unlock();
    LoaderConnection *control = m_control.get();
    std::thread killer([control, running] {
        for (unsigned long id : running)
            control->exec("KILL QUERY " + QByteArray::number(qulonglong(id)));
    });
    lock.lock();
    const auto allIdle = [&] {
        return std::none_of(m_workers.begin(), m_workers.end(), [](const auto &w) { return w->busy; });
    };
    if (!m_doneCv.wait_for(lock, 700ms, allIdle)) {
        for (auto &w : m_workers) {
            if (w->busy)
                w->connection->abort();
        }
        control->abort();
    }
    lock.unlock();
    killer.join();
    lock.lock();
}

}  // namespace velmar::load
