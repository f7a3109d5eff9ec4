#pragma once

#include "CopyJob.h"

#include <QMutex>
#include <QObject>

class QThread;

namespace velmar {

// Runs one copy at a time on a worker thread it owns, for the window and its tests: start,
// cancel, is-running, and the job's signals relayed to the owner's thread. finished comes last,
// once the worker has ended.
class CopyTask : public QObject {
    Q_OBJECT
public:
    explicit CopyTask(QObject *parent = nullptr);
    // Cancels a running copy and waits for it.
    ~CopyTask() override;

    // Starts the copy; false when one is already running.
    bool start(const CopyRequest &request);
    // Asks the running copy to stop; it ends soon after and finished follows.
    void cancel();
    bool isRunning() const { return m_thread != nullptr; }
    // Whether the running (or last) copy was asked to stop.
    bool isCancelled() const { return m_cancelRequested; }
    // Waits until the worker has ended (finished is still delivered by the event loop).
    void wait();

signals:
    void stageStarted(velmar::CopyStage stage);
    void progress(velmar::CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);
    void focusRequested(velmar::FieldId field);
    // completed: ProcCopy's result.
    void finished(bool completed);

private:
    void onWorkerEnded(bool completed);

    QThread *m_thread = nullptr;
    QMutex m_jobMutex;
    CopyJob *m_job = nullptr;  // lives on the worker thread while ProcCopy runs
    bool m_cancelRequested = false;
};

}  // namespace velmar
