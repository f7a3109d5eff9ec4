#pragma once

#include "LoaderConnection.h"
#include "SqlLoader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmar {
struct LoadTarget;
}

namespace velmar::load {

class LoadStop;
class TableRows;
struct Worker;

// Rows of one table that the server takes one statement at a time (LOAD DATA into a table with
// an AUTO_INCREMENT column holds the table's auto-increment lock): two connections load them with
// a reader of their own, while the others go on with the next tables.
struct Segment {
    std::unique_ptr<TableRows> rows;
    QByteArray dataCharset;
    int running = 0;  // under the loader's lock, like the rest
    std::vector<Worker *> workers;
};

// What one connection is given to do; built by name, e.g. Job{.text = ..., .line = ...} (every
// member has its default, so that the compiler takes the ones left out as meant).
struct Job {
    QByteArray text{};
    qint64 line = 0;
    qint64 bytes = 0;      // file bytes this job stands for (progress)
    bool rows = false;     // a plain row INSERT (sent again after a deadlock)
    bool keys = false;         // a table's held-back keys (for the figures)
    bool foreignKeys = false;  // their foreign keys
    // Keys built online beside the table's last rows: the same keys, to build once the rows are
    // in should the server give that up.
    QByteArray afterRows{};
    bool counted = false;  // counts as one statement sent
    // Rows of a transactional table in a session that reads them the same either way: they go
    // as LOAD DATA, in this character set.
    QByteArray dataCharset{};
    QByteArray table{};  // rows spread over the connections: whose
    // Instead of a statement: load a segment's rows.
    std::shared_ptr<Segment> segment{};
};

// One of the load's connections and the thread that sends on it.
struct Worker {
    bool keys = false;  // builds the deferred keys, beside the rows of the next tables
    QSet<QByteArray> keysTables;  // a key connection's: whose keys it builds or has waiting
    std::unique_ptr<LoaderConnection> connection;
    std::deque<Job> queue;
    bool busy = false;
    bool idle() const { return !busy && queue.empty(); }
    unsigned long threadId = 0;
    std::thread thread;
};

// The file's bytes on their way, for the progress shown.
struct ProgressBytes {
    qint64 dispatched = 0;      // up to the end of the last statement the dispatcher took
    qint64 inFlight = 0;        // of those, queued or running
    qint64 segmentSkipped = 0;  // a segment's rows the dispatcher has passed over
    qint64 segmentDone = 0;     // of those, loaded
    qint64 done() const { return std::max<qint64>(0, dispatched - inFlight - segmentSkipped + segmentDone); }
};

// What the loader learns of the server before it loads.
struct ServerFacts {
    qint64 maxPacket = 0;
    unsigned long version = 0;
    bool localInfile = false;
    QByteArray defaultEngine;
};

// The load's connections, each with a thread that sends what its queue holds: the statements'
// connections, then the ones that build deferred keys; besides them the loader's own connection
// (its queries, KILL QUERY). Everything here but the threads' sending is under mutex().
class ConnectionPool {
public:
    explicit ConnectionPool(LoadStop &stop);
    ~ConnectionPool();

    // Opens the loader's own connection, learns the server, opens count statement connections and,
    // with more than one, the key connections; "" or the message why not.
    QString open(const LoadTarget &target, int count, ServerFacts &server);
    // Called, under the lock, when the last rows sent of a table are in.
    void onRowsIn(std::function<void(const QByteArray &table)> rowsIn) { m_rowsIn = std::move(rowsIn); }
    void start();
    // Stops the threads once their queues are empty (or dropped after a stop).
    void close();

    std::mutex &mutex() { return m_mutex; }
    LoaderConnection &control() { return *m_control; }
    LoaderConnection &first() { return *m_workers[0]->connection; }
    size_t regular() const { return m_regular; }
    bool hasKeyConnection() const { return m_workers.back()->keys; }
    ProgressBytes &progress() { return m_progress; }
    qint64 sent() const { return m_sent; }
    qint64 asData() const { return m_asData; }
    bool dataWorks() const { return m_dataWorks; }
    // The figures so far, the total and the reading's waits excepted; after close().
    LoadFigures figures() const;

    // What the connections are at.
    bool idle() const;  // every connection, a segment's and the key connection too
    bool onlySegmentBusy() const;  // every connection but a segment's
    bool firstIdle() const { return m_workers[0]->idle(); }
    bool keysBusyWith(const QByteArray &table) const;
    bool rowsPending(const QByteArray &table) const { return m_rowsInFlight.contains(table); }
    const Segment *segment() const { return m_segment.get(); }
    bool segmentLoads(const QByteArray &table) const;
    bool rowRoom() const;

    // Queueing, then notify() to wake the connections.
    void queue(size_t connection, Job job) { m_workers[connection]->queue.push_back(std::move(job)); }
    void queueRows(Job job);  // on the row connection with the least to do
    void queueKeys(const QByteArray &table, Job job);  // on the key connection with the least to do
    void queueSegment(std::shared_ptr<Segment> segment, qint64 line);
    void notify() { m_workCv.notify_all(); }
    // Waits for a connection to finish something.
    void waitDone(std::unique_lock<std::mutex> &lock, std::chrono::milliseconds most);
    void cancel(std::unique_lock<std::mutex> &lock);

private:
    // Takes rows spread over the connections: not the key connection, nor one a segment has.
    bool rowWorker(const Worker *w) const;
    bool inSegment(const Worker *w) const;
    bool buildAfterRows(LoaderConnection &c, const Job &job, bool &ok, std::unique_lock<std::mutex> &lock);
    void workerLoop(Worker &w);
    void runStatement(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock);
    void execute(Worker &w, const Job &job, std::unique_lock<std::mutex> &lock);
    bool sendRows(LoaderConnection &c, const Job &job, bool &ok);
    void runSegment(Worker &w, Segment &segment, std::unique_lock<std::mutex> &lock);
    QString openWorker(const LoadTarget &target);

    LoadStop &m_stop;
    std::unique_ptr<LoaderConnection> m_control;
    std::vector<std::unique_ptr<Worker>> m_workers;  // the statements' connections, then the key connections
    size_t m_regular = 0;                            // how many are the statements'
    QHash<QByteArray, int> m_rowsInFlight;  // row statements sent or queued, by table
    std::shared_ptr<Segment> m_segment;      // loading on the last two statement connections
    std::function<void(const QByteArray &)> m_rowsIn;
    ProgressBytes m_progress;
    std::mutex m_mutex;
    std::condition_variable m_workCv;
    std::condition_variable m_doneCv;
    qint64 m_sent = 0;
    LoadFigures m_figures;          // under the lock
    QElapsedTimer m_clock;          // from start()
    qint64 m_lastRowsEnd = -1;      // on m_clock
    // Rows as LOAD DATA: while the server allows it.
    std::atomic_bool m_dataWorks{true};
    std::atomic<qint64> m_asData{0};
};

}  // namespace velmar::load
