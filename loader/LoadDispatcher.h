#pragma once

#include "ConnectionPool.h"
#include "LoadOutcome.h"
#include "SqlLoader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

#include <mutex>

namespace velmar {
struct SqlStatement;
}

namespace velmar::load {

class LoadStop;
class StatementSource;

// What the session's settings decide for the rows.
struct SessionFacts {
    bool rowsInParallel = false;  // foreign keys are not checked: rows may go to several connections
    QByteArray dataCharset;       // "" while the session's strings would not read the same as LOAD DATA
    QByteArray keySession;        // the settings an index build needs; "" to build in line
};

// Takes the file's statements from the source one by one and places each on the connections by
// its rule, waiting where the rule says; the connections tell it when a table's rows are in.
class LoadDispatcher {
public:
    LoadDispatcher(StatementSource &source, ConnectionPool &pool, LoadStop &stop, const LoadOptions &options,
                   qint64 maxPacket);
    // The connections stop before the dispatcher they report to goes.
    ~LoadDispatcher();

    // Reads the session's settings on the first connection, which waits for work (or has not
    // started); false when it does not answer.
    bool readSession();
    // Places the whole file, then waits for the connections to finish.
    ReadingEnd run();

private:
    // Places one statement; false when the reading stops there.
    bool dispatch(SqlStatement &s, std::unique_lock<std::mutex> &lock);
    void finish(std::unique_lock<std::mutex> &lock);

    // The placement rules.
    bool placeBarrier(const SqlStatement &s, Job job, std::unique_lock<std::mutex> &lock);
    bool placeRows(const SqlStatement &s, Job job, std::unique_lock<std::mutex> &lock);
    bool placeAutoIncrementRows(const SqlStatement &s, const Job &job, std::unique_lock<std::mutex> &lock);
    bool skipSegmentRows(const SqlStatement &s, std::unique_lock<std::mutex> &lock);
    bool placeDeferredKeys(std::unique_lock<std::mutex> &lock);
    void rowsIn(const QByteArray &table);

    // Whether that table's rows load in a segment or its keys are still to be built.
    bool keysOrSegment(const QByteArray &table) const;
    void queued(const SqlStatement &s, qint64 bytes);
    // Waits (lock held) until pred holds, the load stops or a cancel comes; false unless pred.
    template<class Pred> bool waitFor(std::unique_lock<std::mutex> &lock, Pred pred);
    bool waitIdle(std::unique_lock<std::mutex> &lock);
    void startKeysEarly();
    bool waitFirstIdle(std::unique_lock<std::mutex> &lock);
    void reportProgress(std::unique_lock<std::mutex> &lock);

    StatementSource &m_source;
    ConnectionPool &m_pool;
    LoadStop &m_stop;
    const LoadOptions &m_options;
    const qint64 m_maxPacket;
    SessionFacts m_session;
    QHash<QByteArray, QList<Job>> m_keysAfterRows;  // keys to build once that table's rows are in
    QByteArray m_skipping;                   // the table whose rows a segment loads
    qint64 m_segmentSkippedBefore = 0;       // the progress's segment bytes when it began
    qint64 m_segmentDoneBefore = 0;
    ReadingEnd m_end;
    QElapsedTimer m_progressClock;
};

}  // namespace velmar::load
