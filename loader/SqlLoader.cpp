#include "SqlLoader.h"

#include "DeferredKeys.h"
#include "GrowingFile.h"
#include "LoadStop.h"
#include "LoaderConnection.h"
#include "RowsAsData.h"
#include "SqlStatementReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace velmar {

namespace {

using namespace std::chrono_literals;

// A big INSERT or an index build may run long; a cancel never waits on these (it kills).
constexpr unsigned kReadTimeout = 3600;
constexpr unsigned kWriteTimeout = 600;
constexpr unsigned kControlTimeout = 10;
// Statements waiting per connection besides the running one: enough to keep each connection
// busy, few enough that memory stays at a handful of statements.
constexpr size_t kQueueDepth = 2;
constexpr int kMaxConnections = 16;
constexpr int kDeadlockRetries = 3;

// The rows of one table that the server takes one statement at a time (LOAD DATA into a table
// with an AUTO_INCREMENT column holds the table's auto-increment lock): two connections load them
// with a reader of their own, while the others go on with the next tables.
struct Worker;

struct Segment {
    QByteArray table;
    QByteArray dataCharset;
    // Two connections take turns: one converts its next rows while the server loads the other's.
    std::mutex readLock;  // the reader and position
    std::unique_ptr<QIODevice> file;
    std::unique_ptr<SqlStatementReader> reader;
    qint64 position = 0;  // the end of the last statement taken
    std::atomic_bool exhausted{false};
    int running = 0;  // the rest under the loader's lock
    std::vector<Worker *> workers;
};

struct Job {
    QByteArray text;
    qint64 line = 0;
    qint64 bytes = 0;     // file bytes this job stands for (progress)
    bool rows = false;    // a plain row INSERT (sent again after a deadlock)
    bool counted = false; // counts as one statement sent
    // Rows of a transactional table in a session that reads them the same either way: they go
    // as LOAD DATA, in this character set.
    QByteArray dataCharset;
    QByteArray table = QByteArray();  // rows spread over the connections: whose
    // Instead of a statement: load a segment's rows.
    std::shared_ptr<Segment> segment = nullptr;
};

struct Worker {
    bool keys = false;  // builds the deferred keys, beside the rows of the next tables
    std::unique_ptr<LoaderConnection> connection;
    std::deque<Job> queue;
    bool busy = false;
    unsigned long threadId = 0;
    std::thread thread;
};

class Loader {
public:
    Loader(const QString &path, const LoadTarget &target, const LoadOptions &options)
        : m_path(path), m_target(target), m_options(options), m_stop(m_options.cancel)
    {
    }
    ~Loader() { stopWorkers(); }

    LoadResult run();

private:
    // The file, read from its start; a file still being written is followed.
    std::unique_ptr<QIODevice> openFile(QString *error);
    qint64 total() const;
    QString clientCommand(const SqlStatement &s) const;  // why the client must load the file, if it must
    LoadResult failed(const QString &message) const;
    void workerLoop(Worker &w);
    // Waits (lock held) until pred holds, the load fails or a cancel comes; false unless pred.
    template<class Pred> bool waitFor(std::unique_lock<std::mutex> &lock, Pred pred);
    // all: a segment's rows and the key connection's index builds too, not only the statements
    // spread over the other connections.
    bool waitIdle(std::unique_lock<std::mutex> &lock, bool all = true);
    bool keysBusy() const;
    // Takes rows spread over the connections: not the key connection, nor one a segment has.
    bool rowWorker(const Worker *w) const
    {
        return !w->keys && !(m_segment && std::count(m_segment->workers.begin(), m_segment->workers.end(), w));
    }
    // Whether that table's rows load in a segment or its keys are still to be built.
    bool keysOrSegment(const QByteArray &table) const
    {
        return (keysBusy() && m_keysTables.contains(table)) || m_keysAfterRows.contains(table)
               || (m_segment && m_segment->table == table);
    }
    Job keysJob(const QByteArray &keys, qint64 line) const;
    void rowsIn(const QByteArray &table);
    void execute(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock);
    void runSegment(Worker &w, Segment &segment, std::unique_lock<std::mutex> &lock);
    void cancelWorkers(std::unique_lock<std::mutex> &lock);
    void stopWorkers();
    void reportProgress(std::unique_lock<std::mutex> &lock, bool force);
    bool sendRows(LoaderConnection &c, const Job &job, bool &ok);
    bool readSession(LoaderConnection &c, bool &rowsInParallel);

    QString m_path;
    LoadTarget m_target;
    LoadOptions m_options;
    load::LoadStop m_stop;
    qint64 m_total = 0;

    std::unique_ptr<LoaderConnection> m_control;  // queries of the loader itself, KILL QUERY
    std::vector<std::unique_ptr<Worker>> m_workers;  // the statements' connections, then the key connection
    size_t m_regular = 0;                            // how many are the statements'
    QSet<QByteArray> m_keysTables;  // whose keys the key connection builds or has waiting
    QHash<QByteArray, int> m_rowsInFlight;  // row statements sent or queued, by table
    QHash<QByteArray, Job> m_keysAfterRows; // keys to build once that table's rows are in
    QByteArray m_keySession;   // the settings an index build needs; "" to build in line
    std::shared_ptr<Segment> m_segment;  // loading on the last two statement connections
    qint64 m_segmentSkipped = 0;         // bytes of its rows the reading here has passed
    qint64 m_segmentDone = 0;            // bytes of its rows loaded
    qint64 m_maxPacket = 0;
    QSet<QByteArray> m_autoIncrement;    // tables with an AUTO_INCREMENT column
    std::mutex m_mutex;
    std::condition_variable m_workCv;
    std::condition_variable m_doneCv;
    qint64 m_dispatchedBytes = 0;
    qint64 m_inFlightBytes = 0;
    qint64 m_sent = 0;
    // Rows as LOAD DATA: while the server allows it, into the tables of these names.
    std::atomic_bool m_dataWorks{true};
    std::atomic<qint64> m_asData{0};
    QByteArray m_defaultEngine;
    QSet<QByteArray> m_transactional;
    QByteArray m_dataCharset;  // "" while the session's strings would not read the same
    QElapsedTimer m_progressClock;

};

LoadResult Loader::failed(const QString &message) const
{
    LoadResult r;
    r.outcome = LoadResult::Outcome::Failed;
    r.message = message;
    return r;
}

// The loader runs SQL only. A client command (source, system, \\!, connect, USE of another
// database, charset, ...) means the file needs the mysql client itself: the load stops before it,
// and the caller hands the file to the client (in a database made anew if anything was sent).
QString Loader::clientCommand(const SqlStatement &s) const
{
    const bool otherDatabase = s.kind == SqlStatement::Kind::Use && QString::fromUtf8(s.name) != m_target.database;
    if (s.kind != SqlStatement::Kind::ClientCommand && !otherDatabase)
        return {};
    const QByteArray shown = s.kind == SqlStatement::Kind::Use ? s.text.trimmed() : s.command;
    return QStringLiteral("The client command \"%1\" at line %2 of %3 needs the mysql client.")
        .arg(QString::fromUtf8(shown.left(200)))
        .arg(s.line)
        .arg(m_path);
}

// Sends a row INSERT as LOAD DATA when it converts; false when it did not, and the INSERT itself
// is to be sent. The LOAD DATA runs in a transaction of its own: when the server took the rows
// otherwise than the INSERT would have (a warning, a duplicate skipped), they are rolled back
// and the INSERT goes instead, with its own outcome.
bool Loader::sendRows(LoaderConnection &c, const Job &job, bool &ok)
{
    RowsAsData d;
    if (job.dataCharset.isEmpty() || !m_dataWorks || !rowsAsData(job.text, job.dataCharset, d))
        return false;
    ok = c.exec(QByteArrayLiteral("START TRANSACTION")) && c.loadData(d.statement, d.data, d.rows);
    if (ok) {
        ++m_asData;
        return true;
    }
    if (connectionLost(c.errorNumber()))
        return true;
    // An error rather than a poor answer: the server or its settings refuse LOAD DATA LOCAL
    // (local_infile off, ...), so the rest go as INSERTs.
    if (c.errorNumber() != 0)
        m_dataWorks = false;
    ok = c.exec(QByteArrayLiteral("ROLLBACK"));
    // After a cancel or another connection's failure nothing more is sent.
    return !ok || !m_stop.running();
}

void Loader::workerLoop(Worker &w)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workCv.wait(lock, [&] { return m_stop.closing() || !w.queue.empty(); });
        if (w.queue.empty())
            return;
        if (!m_stop.running()) {
            // Nothing after a failed statement or a cancel is sent.
            for (const Job &j : w.queue)
                m_inFlightBytes -= j.bytes;
            w.queue.clear();
            m_doneCv.notify_all();
            continue;
        }
        Job job = std::move(w.queue.front());
        w.queue.pop_front();
        w.busy = true;
        if (job.segment) {
            runSegment(w, *job.segment, lock);
        } else {
            execute(w, job, lock);
            m_inFlightBytes -= job.bytes;
            if (!job.table.isEmpty() && --m_rowsInFlight[job.table] == 0) {
                m_rowsInFlight.remove(job.table);
                rowsIn(job.table);
            }
            if (w.keys && w.queue.empty())
                m_keysTables.clear();
        }
        w.busy = false;
        m_doneCv.notify_all();
    }
}

// Sends one statement on w's connection, the lock let go meanwhile, and records a failure.
void Loader::execute(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock)
{
    if (job.counted)
        ++m_sent;
    lock.unlock();
    LoaderConnection &c = *w.connection;
    bool ok = false;
    if (!sendRows(c, job, ok))
        ok = c.exec(job.text);
    // Rows sent at the same time may deadlock on a unique index; the server rolled back
    // that statement alone (its own transaction, committed below), so it is sent again.
    for (int retry = 0; !ok && job.rows && c.errorNumber() == 1213 && retry < kDeadlockRetries; ++retry)
        ok = c.exec(job.text);
    // With autocommit off the file would build one transaction over all its rows; each
    // statement is committed instead, so the server never holds it, a retried batch is
    // the whole transaction, and no connection keeps locks that another one waits for.
    if (ok && c.inTransaction())
        ok = c.exec(QByteArrayLiteral("COMMIT"));
    const unsigned error = ok ? 0 : c.errorNumber();
    const QString message = ok ? QString() : c.errorText(job.line);
    lock.lock();
    if (!ok)
        m_stop.fail(job.line, message, error);
}

// Takes the segment's rows one statement after the other, up to the first statement that is
// not one (the reading here passes over the same ones), then has the table's keys built.
void Loader::runSegment(Worker &w, Segment &segment, std::unique_lock<std::mutex> &lock)
{
    ++segment.running;
    SqlStatement s;
    while (m_stop.running() && !segment.exhausted) {
        lock.unlock();
        Job job;
        QString readError;
        {
            std::lock_guard<std::mutex> read(segment.readLock);
            const bool more = !segment.exhausted && segment.reader->next(s);
            readError = segment.reader->error();
            // A statement over max_allowed_packet is left to the reading here, which reports it.
            if (!more || s.kind != SqlStatement::Kind::Insert || s.name != segment.table
                || s.text.size() + 1 > m_maxPacket) {
                segment.exhausted = true;
            } else {
                job = Job{std::move(s.text), s.line, s.endOffset - segment.position, true, true, segment.dataCharset};
                segment.position = s.endOffset;
            }
        }
        lock.lock();
        if (!readError.isEmpty() && !m_stop.readerGivesUp())
            m_stop.fail(s.line, QStringLiteral("Cannot read %1: %2").arg(m_path, readError), 0);
        if (job.text.isEmpty())
            break;
        execute(w, job, lock);
        m_segmentDone += job.bytes;
    }
    // The last connection out ends it (unless a late one finds it ended): the other
    // connections take rows again, and the table's keys are built.
    if (--segment.running > 0 || m_segment.get() != &segment)
        return;
    m_segment.reset();
    rowsIn(segment.table);
}

// The deferred keys of a table, built in the session its rows had.
Job Loader::keysJob(const QByteArray &keys, qint64 line) const
{
    return Job{m_keySession + ";\n" + keys, line, 0, false, false, {}};
}

// A table's last rows are in: the key connection builds its keys, if any wait for that.
void Loader::rowsIn(const QByteArray &table)
{
    if (!m_keysAfterRows.contains(table) || !m_stop.running())
        return;
    m_workers.back()->queue.push_back(m_keysAfterRows.take(table));
    m_keysTables.insert(table);
    m_workCv.notify_all();
}

template<class Pred>
bool Loader::waitFor(std::unique_lock<std::mutex> &lock, Pred pred)
{
    for (;;) {
        if (!m_stop.running())
            return false;
        if (pred())
            return true;
        if (m_stop.cancelAsked()) {
            cancelWorkers(lock);
            return false;
        }
        m_doneCv.wait_for(lock, 50ms);
        reportProgress(lock, false);
    }
}

bool Loader::waitIdle(std::unique_lock<std::mutex> &lock, bool all)
{
    return waitFor(lock, [&] {
        return std::all_of(m_workers.begin(), m_workers.end(), [&](const auto &w) {
            return (!all && !rowWorker(w.get())) || (!w->busy && w->queue.empty());
        });
    });
}

bool Loader::keysBusy() const
{
    const Worker &k = *m_workers.back();
    return k.keys && (k.busy || !k.queue.empty());
}

// Stops every connection within a second: the queues are dropped, the running statements are
// killed through the loader's own connection, and a connection that still has not answered
// (a server that hangs) has its socket shut.
void Loader::cancelWorkers(std::unique_lock<std::mutex> &lock)
{
    m_stop.cancel();
    std::vector<unsigned long> running;
    for (auto &w : m_workers) {
        for (const Job &j : w->queue)
            m_inFlightBytes -= j.bytes;
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

void Loader::stopWorkers()
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

void Loader::reportProgress(std::unique_lock<std::mutex> &lock, bool force)
{
    if (!m_options.progress || (!force && m_progressClock.isValid() && m_progressClock.elapsed() < 200))
        return;
    m_progressClock.start();
    const qint64 done = std::max<qint64>(0, m_dispatchedBytes - m_inFlightBytes - m_segmentSkipped + m_segmentDone);
    lock.unlock();
    m_options.progress(done, total());
    lock.lock();
}

std::unique_ptr<QIODevice> Loader::openFile(QString *error)
{
    std::unique_ptr<QIODevice> file;
    if (m_options.growing)
        file = std::make_unique<GrowingFileReader>(m_path, m_options.growing,
                                                   [this] { return m_stop.readerGivesUp(); });
    else
        file = std::make_unique<QFile>(m_path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
    return file;
}

qint64 Loader::total() const
{
    if (!m_options.growing)
        return m_total;
    return m_options.growing->finished() ? m_options.growing->size() : -1;
}

LoadResult Loader::run()
{
    QString openError;
    const std::unique_ptr<QIODevice> opened = openFile(&openError);
    if (!opened)
        return failed(QStringLiteral("Cannot open %1: %2").arg(m_path, openError));
    QIODevice &file = *opened;
    m_total = file.size();

    const auto cannotConnect = [&](const LoaderConnection &c) {
        return failed(QStringLiteral("Cannot connect to the server at %1 (database %2): %3")
                          .arg(m_target.host, m_target.database, c.errorText()));
    };
    m_control = std::make_unique<LoaderConnection>();
    if (!m_control->open(m_target, kControlTimeout, kControlTimeout))
        return cannotConnect(*m_control);
    bool ok = false;
    const qint64 maxPacket = m_control->value("SELECT @@max_allowed_packet", &ok).toLongLong();
    if (!ok)
        return failed(m_control->errorText());
    m_maxPacket = maxPacket;
    const unsigned long serverVersion = m_control->serverVersion();
    const QList<QByteArray> server = m_control->value("SELECT CONCAT_WS(',', @@local_infile + 0, @@default_storage_engine)").split(',');
    m_dataWorks = server.value(0) == "1";
    m_defaultEngine = server.value(1);

    const int count = std::clamp(m_options.connections > 0 ? m_options.connections : defaultImportConnections(),
                                 1, kMaxConnections);
    for (int i = 0; i < count; ++i) {
        auto w = std::make_unique<Worker>();
        w->connection = std::make_unique<LoaderConnection>();
        if (!w->connection->open(m_target, kReadTimeout, kWriteTimeout))
            return cannotConnect(*w->connection);
        w->threadId = w->connection->threadId();
        m_workers.push_back(std::move(w));
    }
    m_regular = m_workers.size();
    // One more connection builds a table's deferred keys while the next tables load.
    if (count > 1) {
        auto w = std::make_unique<Worker>();
        w->keys = true;
        w->connection = std::make_unique<LoaderConnection>();
        if (!w->connection->open(m_target, kReadTimeout, kWriteTimeout))
            return cannotConnect(*w->connection);
        w->threadId = w->connection->threadId();
        m_workers.push_back(std::move(w));
    }
    // Rows go to several connections only while foreign keys are not checked: with checks on,
    // a row may need one sent earlier on another connection.
    bool rowsInParallel = false;
    if (!readSession(*m_workers[0]->connection, rowsInParallel))
        return failed(m_workers[0]->connection->errorText());
    for (auto &w : m_workers) {
        Worker *worker = w.get();
        w->thread = std::thread([this, worker] { workerLoop(*worker); });
    }

    SqlStatementReader reader(&file);
    reader.setServerVersion(serverVersion);
    QString tooBig;
    QString needsClient;
    SqlStatement s;
    // The keys split off the last table created, added once its rows are in.
    QByteArray pendingKeys;
    QByteArray pendingTable;
    qint64 pendingLine = 0;
    bool pendingRowsBegun = false;
    const auto addPendingKeys = [&](std::unique_lock<std::mutex> &lock) {
        if (pendingKeys.isEmpty())
            return true;
        Worker &keys = *m_workers.back();
        if (!keys.keys || m_keySession.isEmpty()) {
            if (!waitIdle(lock))
                return false;
            m_workers[0]->queue.push_back(Job{std::exchange(pendingKeys, {}), pendingLine, 0, false, false, {}});
            m_workCv.notify_all();
            return waitIdle(lock);
        }
        // Once the table's rows are in, in the session they had. Later statements go on
        // meanwhile, but none that touches this table or is not a table's own statement.
        m_keysAfterRows.insert(pendingTable, keysJob(std::exchange(pendingKeys, {}), pendingLine));
        if (!m_rowsInFlight.contains(pendingTable) && !(m_segment && m_segment->table == pendingTable))
            rowsIn(pendingTable);
        return true;
    };
    const auto firstIdle = [&](std::unique_lock<std::mutex> &lock) {
        return waitFor(lock, [&] { return !m_workers[0]->busy && m_workers[0]->queue.empty(); });
    };
    QByteArray skipping;      // the table whose rows a segment loads
    QByteArray lastCreated;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        lock.unlock();
        const bool more = reader.next(s);
        lock.lock();
        if (!more || !m_stop.running())
            break;
        // Nothing at or after a client command is sent (a segment stops at any other statement).
        needsClient = clientCommand(s);
        if (!needsClient.isEmpty())
            break;
        if (m_stop.cancelAsked()) {
            cancelWorkers(lock);
            break;
        }
        using K = SqlStatement::Kind;
        if (!skipping.isEmpty()) {
            if (s.kind == K::Insert && s.name == skipping && s.text.size() + 1 <= maxPacket) {
                m_segmentSkipped += s.endOffset - m_dispatchedBytes;
                m_dispatchedBytes = s.endOffset;
                reportProgress(lock, false);
                continue;
            }
            skipping.clear();
        }
        const qint64 bytes = s.endOffset - m_dispatchedBytes;
        // The keys wait for the table's rows: past its locks, its keys switch and, until the rows
        // begin, the settings mysqldump makes around the CREATE TABLE.
        if (s.kind == K::Insert && s.name == pendingTable)
            pendingRowsBegun = true;
        else if (!pendingKeys.isEmpty() && s.kind != K::LockTables && s.kind != K::UnlockTables
                 && !isKeysSwitch(s.text, pendingTable) && (pendingRowsBegun || s.kind != K::SessionSetting)
                 && !addPendingKeys(lock))
            break;
        // Rows load faster into a table without its secondary indexes; the server then builds
        // each of them once. Only while foreign keys are not checked, like the rows themselves.
        if (s.kind == K::CreateTable && rowsInParallel && (!m_options.filter || m_options.filter(s))) {
            QByteArray withoutKeys;
            if (splitSecondaryKeys(s.text, withoutKeys, pendingKeys)) {
                s.text = withoutKeys;
                pendingTable = s.name;
                pendingLine = s.line;
                pendingRowsBegun = false;
            }
        }
        if ((s.kind == K::CreateTable || s.kind == K::DropTable) && (!m_options.filter || m_options.filter(s))) {
            // Only rows of a transactional table can be rolled back and sent again as INSERTs.
            static const QRegularExpression engine(QStringLiteral("\\)\\s*ENGINE\\s*=\\s*(\\w+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            QByteArray name = m_defaultEngine;
            for (const auto &m : engine.globalMatch(QString::fromUtf8(s.text)))
                name = m.captured(1).toUtf8();
            if (s.kind == K::CreateTable && name.compare("InnoDB", Qt::CaseInsensitive) == 0)
                m_transactional.insert(s.name);
            else
                m_transactional.remove(s.name);
            static const QRegularExpression autoIncrement(QStringLiteral("\\bAUTO_INCREMENT\\b(?!\\s*=)"),
                                                          QRegularExpression::CaseInsensitiveOption);
            if (s.kind == K::CreateTable && autoIncrement.match(QString::fromUtf8(s.text)).hasMatch())
                m_autoIncrement.insert(s.name);
            else
                m_autoIncrement.remove(s.name);
            if (s.kind == K::CreateTable)
                lastCreated = s.name;
        }
        // The loader owns the new database while it loads: LOCK TABLES would only make the
        // other connections wait, so table locks are not sent (nor is a USE of that database).
        // Nor is mysqldump's DISABLE/ENABLE KEYS of an InnoDB table, which does nothing there.
        if (s.kind == K::LockTables || s.kind == K::UnlockTables || s.kind == K::Use
            || (m_options.filter && !m_options.filter(s))
            || (s.kind == K::Other && m_transactional.contains(lastCreated) && isKeysSwitch(s.text, lastCreated))) {
            m_dispatchedBytes = s.endOffset;
            continue;
        }
        if (s.text.size() + 1 > maxPacket) {
            if (!waitIdle(lock))
                break;
            tooBig = QStringLiteral("ERROR at line %1: the statement is %2 bytes, more than the server's "
                                    "max_allowed_packet of %3 bytes; nothing from this statement on was sent.")
                         .arg(s.line)
                         .arg(s.text.size())
                         .arg(maxPacket);
            break;
        }
        Job job{std::move(s.text), s.line, bytes, s.kind == K::Insert, true, {}};
        if (s.kind == K::Insert && m_transactional.contains(s.name))
            job.dataCharset = m_dataCharset;
        if (s.kind == K::Insert && rowsInParallel) {
            if (keysOrSegment(s.name) && !waitIdle(lock))
                break;
            // Rows the server would take one LOAD DATA at a time go to a segment of their own.
            SqlStatementReader::ResumePoint point;
            if (!m_segment && m_regular >= 2 && m_workers.back()->keys && !m_keySession.isEmpty()
                && !job.dataCharset.isEmpty() && m_dataWorks && m_autoIncrement.contains(s.name)
                && reader.resumePoint(s, point)) {
                auto segment = std::make_shared<Segment>();
                QString ignored;
                segment->file = openFile(&ignored);
                if (segment->file && segment->file->seek(point.offset)) {
                    segment->table = s.name;
                    segment->dataCharset = job.dataCharset;
                    segment->position = point.offset;
                    segment->reader = std::make_unique<SqlStatementReader>(segment->file.get());
                    segment->reader->setServerVersion(serverVersion);
                    segment->reader->resumeAt(point);
                    // Two connections of the statements', at least one left for the others.
                    for (size_t i = std::max<size_t>(1, m_regular - 2); i < m_regular; ++i) {
                        Worker *worker = m_workers[i].get();
                        segment->workers.push_back(worker);
                        Job load;
                        load.line = s.line;
                        load.segment = segment;
                        worker->queue.push_back(std::move(load));
                    }
                    m_segment = std::move(segment);
                    m_segmentSkipped += s.endOffset - s.offset;
                    m_dispatchedBytes = s.endOffset;
                    skipping = s.name;
                    m_workCv.notify_all();
                    reportProgress(lock, false);
                    continue;
                }
            }
            if (!waitFor(lock, [&] {
                    return std::any_of(m_workers.begin(), m_workers.end(),
                                       [&](const auto &w) { return rowWorker(w.get()) && w->queue.size() < kQueueDepth; });
                }))
                break;
            Worker *best = nullptr;
            for (auto &w : m_workers) {
                if (rowWorker(w.get()) && (!best || w->queue.size() + w->busy < best->queue.size() + best->busy))
                    best = w.get();
            }
            job.table = s.name;
            ++m_rowsInFlight[s.name];
            best->queue.push_back(std::move(job));
        } else {
            // Every other statement is a barrier: it waits for all earlier ones, and all later
            // ones wait for it. Session settings run on every connection, the rest on the first.
            // A setting goes after the rows already queued on each connection, and a table's own
            // CREATE or DROP does not wait for other tables' rows; the rows after either wait.
            const bool everywhere = s.kind == K::SessionSetting || s.kind == K::Transaction;
            const bool tableOwn = (s.kind == K::CreateTable || s.kind == K::DropTable) && !keysOrSegment(s.name)
                                  && !m_rowsInFlight.contains(s.name);
            if (!everywhere && !tableOwn && !waitIdle(lock))
                break;
            if (everywhere) {
                for (size_t i = 1; i < m_regular; ++i) {
                    Job copy{job.text, job.line, 0, false, false, {}};
                    m_workers[i]->queue.push_back(std::move(copy));
                }
            }
            m_workers[0]->queue.push_back(std::move(job));
            m_inFlightBytes += bytes;
            m_dispatchedBytes = s.endOffset;
            m_workCv.notify_all();
            if (!firstIdle(lock))
                break;
            // The first connection waits for work, so it may be asked here.
            if (everywhere && !readSession(*m_workers[0]->connection, rowsInParallel)) {
                m_stop.fail(s.line, m_workers[0]->connection->errorText(s.line), m_workers[0]->connection->errorNumber());
                break;
            }
            reportProgress(lock, false);
            continue;
        }
        m_inFlightBytes += bytes;
        m_dispatchedBytes = s.endOffset;
        m_workCv.notify_all();
        reportProgress(lock, false);
    }
    const bool commandFound = !needsClient.isEmpty();
    if (tooBig.isEmpty() && m_stop.cancelAsked())
        cancelWorkers(lock);
    if (m_stop.running() && tooBig.isEmpty() && reader.error().isEmpty() && !commandFound)
        addPendingKeys(lock);
    if (m_stop.running())
        waitIdle(lock);
    lock.unlock();
    stopWorkers();

    LoadResult r;
    r.statements = m_sent;
    r.connections = int(m_regular);
    r.asData = m_asData;
    if (m_stop.state() == load::LoadStop::State::Cancelled) {
        r.outcome = LoadResult::Outcome::Cancelled;
        return r;
    }
    if (m_stop.state() == load::LoadStop::State::Failed) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = m_stop.failure().message;
        r.errorNumber = m_stop.failure().error;
        if (connectionLost(r.errorNumber)) {
            bool alive = false;
            m_control->value("SELECT 1", &alive);
            r.message += alive ? QStringLiteral(" (the server still runs: this connection was killed or closed by it)")
                               : QStringLiteral(" (the server does not answer any more: it stopped or restarted)");
        }
        return r;
    }
    if (commandFound) {
        r.outcome = LoadResult::Outcome::NeedsClient;
        r.message = needsClient;
        return r;
    }
    if (!tooBig.isEmpty()) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = tooBig;
        return r;
    }
    if (!reader.error().isEmpty()) {
        r.outcome = LoadResult::Outcome::Failed;
        r.message = QStringLiteral("Cannot read %1: %2").arg(m_path, reader.error());
        return r;
    }
    r.outcome = LoadResult::Outcome::Loaded;
    if (m_options.progress)
        m_options.progress(total(), total());
    return r;
}

// What the session's settings decide for the rows: whether they may go to several connections
// (foreign keys not checked), and whether their strings read the same as LOAD DATA (written in
// the connection's character set, backslash escapes on).
bool Loader::readSession(LoaderConnection &c, bool &rowsInParallel)
{
    bool ok = false;
    const QList<QByteArray> v = c.value("SELECT CONCAT_WS(',', @@foreign_key_checks + 0, @@character_set_client = "
                                        "@@character_set_connection AND @@sql_mode NOT LIKE '%NO_BACKSLASH_ESCAPES%', "
                                        "@@character_set_client, @@unique_checks + 0, @@sql_mode)",
                                        &ok)
                                    .split(',');
    rowsInParallel = v.value(0) == "0";
    m_dataCharset = v.value(1) == "1" ? v.value(2) : QByteArray();
    static const QRegularExpression plainMode(QStringLiteral("^[A-Z0-9_,]*$"));
    const QByteArray mode = v.value(4);
    m_keySession = plainMode.match(QString::fromLatin1(mode)).hasMatch()
                       ? "SET SESSION foreign_key_checks = 0, unique_checks = " + v.value(3) + ", sql_mode = '" + mode + "'"
                       : QByteArray();
    return ok;
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
