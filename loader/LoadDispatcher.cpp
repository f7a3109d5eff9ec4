#include "LoadDispatcher.h"

#include "LoadStop.h"
#include "SqlStatementReader.h"
#include "StatementSource.h"

#include <QRegularExpression>

#include <chrono>

namespace velmar::load {

using namespace std::chrono_literals;
using K = SqlStatement::Kind;

LoadDispatcher::LoadDispatcher(StatementSource &source, ConnectionPool &pool, LoadStop &stop,
                               const LoadOptions &options, qint64 maxPacket)
    : m_source(source), m_pool(pool), m_stop(stop), m_options(options), m_maxPacket(maxPacket)
{
    m_pool.onRowsIn([this](const QByteArray &table) { rowsIn(table); });
}

LoadDispatcher::~LoadDispatcher()
{
    m_pool.close();
}

// Whether the rows may go to several connections (foreign keys not checked), and whether their
// strings read the same as LOAD DATA (written in the connection's character set, backslash
// escapes on).
bool LoadDispatcher::readSession()
{
    LoaderConnection &c = m_pool.first();
    bool ok = false;
    const QList<QByteArray> v
        = c.value("SELECT CONCAT_WS(',', @@foreign_key_checks + 0, @@character_set_client = "
                  "@@character_set_connection AND @@sql_mode NOT LIKE '%NO_BACKSLASH_ESCAPES%', "
                  "@@character_set_client, @@unique_checks + 0, @@sql_mode)",
                  &ok)
              .split(',');
    m_session.rowsInParallel = v.value(0) == "0";
    m_session.dataCharset = v.value(1) == "1" ? v.value(2) : QByteArray();
    static const QRegularExpression plainMode(QStringLiteral("^[A-Z0-9_,]*$"));
    const QByteArray mode = v.value(4);
    m_session.keySession = plainMode.match(QString::fromLatin1(mode)).hasMatch()
                               ? "SET SESSION foreign_key_checks = 0, unique_checks = " + v.value(3)
                                     + ", sql_mode = '" + mode + "'"
                               : QByteArray();
    return ok;
}

ReadingEnd LoadDispatcher::run()
{
    std::unique_lock<std::mutex> lock(m_pool.mutex());
    SqlStatement s;
    for (;;) {
        lock.unlock();
        const bool more = m_source.next(s);
        lock.lock();
        if (!more || !m_stop.running() || !dispatch(s, lock))
            break;
    }
    m_end.readError = m_source.error();
    finish(lock);
    return m_end;
}

// In this order: a client command or a cancel ends the reading, a segment's rows are passed over,
// the held keys go when due, the table is learnt, a statement not sent is passed over, one too
// big ends the reading, and the rest is placed by its rule.
bool LoadDispatcher::dispatch(SqlStatement &s, std::unique_lock<std::mutex> &lock)
{
    // Nothing at or after a client command is sent (a segment stops at any other statement).
    m_end.needsClient = m_source.clientCommand(s);
    if (!m_end.needsClient.isEmpty())
        return false;
    if (m_stop.cancelAsked()) {
        m_pool.cancel(lock);
        return false;
    }
    if (skipSegmentRows(s, lock))
        return true;
    ProgressBytes &progress = m_pool.progress();
    const qint64 bytes = s.endOffset - progress.dispatched;
    if (m_source.keysDue(s) && !placeDeferredKeys(lock))
        return false;
    m_source.learnTable(s, m_session.rowsInParallel);
    if (m_source.passedOver(s)) {
        progress.dispatched = s.endOffset;
        return true;
    }
    if (s.text.size() + 1 > m_maxPacket) {
        if (waitIdle(lock)) {
            m_end.tooBig
                = QStringLiteral("ERROR at line %1: 문장이 %2바이트로 서버의 max_allowed_packet(%3바이트)보다 "
                                 "커서 이 문장부터는 보내지 않았습니다.")
                      .arg(s.line)
                      .arg(s.text.size())
                      .arg(m_maxPacket);
        }
        return false;
    }
    const bool insert = s.kind == K::Insert;
    Job job{.text = std::move(s.text),
            .line = s.line,
            .bytes = bytes,
            .rows = insert,
            .counted = true,
            .dataCharset = insert && m_source.transactional(s.name) ? m_session.dataCharset : QByteArray()};
    if (insert && m_session.rowsInParallel)
        return placeRows(s, std::move(job), lock);
    return placeBarrier(s, std::move(job), lock);
}

// A cancel asked meanwhile is carried out; the last table's keys go unless the reading stopped
// short; then everything sent is waited for.
void LoadDispatcher::finish(std::unique_lock<std::mutex> &lock)
{
    if (m_end.tooBig.isEmpty() && m_stop.cancelAsked())
        m_pool.cancel(lock);
    if (m_stop.running() && m_end.tooBig.isEmpty() && m_end.readError.isEmpty()
        && m_end.needsClient.isEmpty())
        placeDeferredKeys(lock);
    if (m_stop.running())
        waitFor(lock, [&] {
            startKeysEarly();
            return m_pool.idle();
        });
}

// The reading has ended, and the connections have nothing left but a segment's rows, most of
// which are in: the table's keys are built beside the last ones (online, the server logging
// the rows that come meanwhile), on a processor that would otherwise wait.
void LoadDispatcher::startKeysEarly()
{
    const Segment *segment = m_pool.segment();
    if (!segment || !m_pool.onlySegmentBusy())
        return;
    const QByteArray table = segment->rows->table();
    auto held = m_keysAfterRows.find(table);
    if (held == m_keysAfterRows.end() || held->isEmpty() || !held->first().keys
        || held->first().text.contains(" ADD UNIQUE "))
        return;
    const ProgressBytes &progress = m_pool.progress();
    const qint64 total = progress.segmentSkipped - m_segmentSkippedBefore;
    const qint64 done = progress.segmentDone - m_segmentDoneBefore;
    if (total <= 0 || done * 10 < total * 6)
        return;
    Job job = held->takeFirst();
    job.afterRows = job.text;
    job.text += ", ALGORITHM=INPLACE, LOCK=NONE";
    m_pool.queueKeys(table, std::move(job));
    m_pool.notify();
}

// Every other statement is a barrier: it waits for all earlier ones, and all later ones wait for
// it. Session settings run on every connection, the rest on the first. A setting goes after the
// rows already queued on each connection, and a table's own CREATE or DROP does not wait for
// other tables' rows; the rows after either wait.
bool LoadDispatcher::placeBarrier(const SqlStatement &s, Job job, std::unique_lock<std::mutex> &lock)
{
    const bool everywhere = s.kind == K::SessionSetting || s.kind == K::Transaction;
    const bool tableOwn = (s.kind == K::CreateTable || s.kind == K::DropTable) && !keysOrSegment(s.name)
                          && !m_pool.rowsPending(s.name);
    if (!everywhere && !tableOwn && !waitIdle(lock))
        return false;
    if (everywhere) {
        for (size_t i = 1; i < m_pool.regular(); ++i)
            m_pool.queue(i, Job{.text = job.text, .line = job.line});
    }
    const qint64 bytes = job.bytes;
    m_pool.queue(0, std::move(job));
    queued(s, bytes);
    if (!waitFirstIdle(lock))
        return false;
    // The first connection waits for work, so it may be asked here.
    if (everywhere && !readSession()) {
        m_stop.fail(s.line, m_pool.first().errorText(s.line), m_pool.first().errorNumber());
        return false;
    }
    reportProgress(lock);
    return true;
}

// Rows of a table go to the row connection with the least to do; they wait only for their own
// table's keys or segment.
bool LoadDispatcher::placeRows(const SqlStatement &s, Job job, std::unique_lock<std::mutex> &lock)
{
    if (keysOrSegment(s.name) && !waitIdle(lock))
        return false;
    if (placeAutoIncrementRows(s, job, lock))
        return true;
    if (!waitFor(lock, [&] { return m_pool.rowRoom(); }))
        return false;
    const qint64 bytes = job.bytes;
    job.table = s.name;
    m_pool.queueRows(std::move(job));
    queued(s, bytes);
    reportProgress(lock);
    return true;
}

// Rows the server would take one LOAD DATA at a time go to a segment of their own, read again
// from here by the two connections that load them; true when they went so.
bool LoadDispatcher::placeAutoIncrementRows(const SqlStatement &s, const Job &job,
                                            std::unique_lock<std::mutex> &lock)
{
    if (m_pool.segment() || m_pool.regular() < 2 || !m_pool.hasKeyConnection()
        || m_session.keySession.isEmpty() || job.dataCharset.isEmpty() || !m_pool.dataWorks()
        || !m_source.autoIncrement(s.name))
        return false;
    std::unique_ptr<TableRows> rows = m_source.rowsFrom(s, m_maxPacket);
    if (!rows)
        return false;
    auto segment = std::make_shared<Segment>();
    segment->rows = std::move(rows);
    segment->dataCharset = job.dataCharset;
    m_pool.queueSegment(std::move(segment), s.line);
    ProgressBytes &progress = m_pool.progress();
    m_segmentSkippedBefore = progress.segmentSkipped;
    m_segmentDoneBefore = progress.segmentDone;
    progress.segmentSkipped += s.endOffset - s.offset;
    progress.dispatched = s.endOffset;
    m_skipping = s.name;
    m_pool.notify();
    reportProgress(lock);
    return true;
}

// The reading here passes over the rows a segment loads, up to the first other statement.
bool LoadDispatcher::skipSegmentRows(const SqlStatement &s, std::unique_lock<std::mutex> &lock)
{
    if (m_skipping.isEmpty())
        return false;
    if (s.kind == K::Insert && s.name == m_skipping && s.text.size() + 1 <= m_maxPacket) {
        ProgressBytes &progress = m_pool.progress();
        progress.segmentSkipped += s.endOffset - progress.dispatched;
        progress.dispatched = s.endOffset;
        reportProgress(lock);
        return true;
    }
    m_skipping.clear();
    return false;
}

// The keys split off the last table created, then its foreign keys, which use them. Without a key
// connection (or a session to give it) they are built on the first connection, between everything
// before and after them.
bool LoadDispatcher::placeDeferredKeys(std::unique_lock<std::mutex> &lock)
{
    if (!m_source.keysHeld())
        return true;
    const HeldKeys keys = m_source.takeKeys();
    const bool inLine = !m_pool.hasKeyConnection() || m_session.keySession.isEmpty();
    const QByteArray session = inLine ? QByteArray() : m_session.keySession + ";\n";
    QList<Job> jobs;
    if (!keys.text.isEmpty())
        jobs << Job{.text = session + keys.text, .line = keys.line, .keys = true};
    if (!keys.foreignKeys.isEmpty())
        jobs << Job{.text = session + keys.foreignKeys, .line = keys.line, .foreignKeys = true};
    if (inLine) {
        if (!waitIdle(lock))
            return false;
        for (Job &job : jobs)
            m_pool.queue(0, std::move(job));
        m_pool.notify();
        return waitIdle(lock);
    }
    // Once the table's rows are in, in the session they had. Later statements go on meanwhile,
    // but none that touches this table or is not a table's own statement.
    m_keysAfterRows.insert(keys.table, jobs);
    if (!m_pool.rowsPending(keys.table) && !m_pool.segmentLoads(keys.table))
        rowsIn(keys.table);
    return true;
}

// A table's last rows are in: the key connection builds its keys, if any wait for that. Called
// by the connection that sent them as well, under the lock.
void LoadDispatcher::rowsIn(const QByteArray &table)
{
    if (!m_keysAfterRows.contains(table) || !m_stop.running())
        return;
    for (Job &job : m_keysAfterRows.take(table))
        m_pool.queueKeys(table, std::move(job));
    m_pool.notify();
}

bool LoadDispatcher::keysOrSegment(const QByteArray &table) const
{
    return m_pool.keysBusyWith(table) || m_keysAfterRows.contains(table) || m_pool.segmentLoads(table);
}

// A statement is queued: its bytes are on their way, and the connections are woken.
void LoadDispatcher::queued(const SqlStatement &s, qint64 bytes)
{
    ProgressBytes &progress = m_pool.progress();
    progress.inFlight += bytes;
    progress.dispatched = s.endOffset;
    m_pool.notify();
}

template<class Pred>
bool LoadDispatcher::waitFor(std::unique_lock<std::mutex> &lock, Pred pred)
{
    for (;;) {
        if (!m_stop.running())
            return false;
        if (pred())
            return true;
        if (m_stop.cancelAsked()) {
            m_pool.cancel(lock);
            return false;
        }
        m_pool.waitDone(lock, 50ms);
        reportProgress(lock);
    }
}

// Every connection idle: a segment's rows and the key connection's index builds too.
bool LoadDispatcher::waitIdle(std::unique_lock<std::mutex> &lock)
{
    return waitFor(lock, [&] { return m_pool.idle(); });
}

bool LoadDispatcher::waitFirstIdle(std::unique_lock<std::mutex> &lock)
{
    return waitFor(lock, [&] { return m_pool.firstIdle(); });
}

void LoadDispatcher::reportProgress(std::unique_lock<std::mutex> &lock)
{
    if (!m_options.progress || (m_progressClock.isValid() && m_progressClock.elapsed() < 200))
        return;
    m_progressClock.start();
    const qint64 done = m_pool.progress().done();
    lock.unlock();
    m_options.progress(done, m_source.total());
    lock.lock();
}

}  // namespace velmar::load
