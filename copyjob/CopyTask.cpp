#include "CopyTask.h"

#include <QThread>

namespace velmar {

CopyTask::CopyTask(QObject *parent) : QObject(parent)
{
}

CopyTask::~CopyTask()
{
    if (m_thread) {
        cancel();
        wait();
        delete m_thread;
    }
}

bool CopyTask::start(const CopyRequest &request)
{
    if (m_thread)
        return false;
    m_cancelRequested = false;
    m_thread = QThread::create([this, request] {
        // The job lives and dies on the worker; the owner hears from it only by queued signals
        // and through the messenger, in the order they were sent.
        CopyJob job(request);
        connect(&job, &CopyJob::stageStarted, this, &CopyTask::stageStarted, Qt::QueuedConnection);
        connect(&job, &CopyJob::progress, this, &CopyTask::progress, Qt::QueuedConnection);
        connect(&job, &CopyJob::focusRequested, this, &CopyTask::focusRequested, Qt::QueuedConnection);
        {
            QMutexLocker lock(&m_jobMutex);
            m_job = &job;
            if (m_cancelRequested)
                job.cancel();
        }
        const bool completed = job.ProcCopy();
        {
            QMutexLocker lock(&m_jobMutex);
            m_job = nullptr;
        }
        QMetaObject::invokeMethod(this, [this, completed] { onWorkerEnded(completed); },
                                  Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("copy"));
    m_thread->start();
    return true;
}

void CopyTask::cancel()
{
    QMutexLocker lock(&m_jobMutex);
    if (!m_thread || m_cancelRequested)
        return;
    m_cancelRequested = true;
    if (m_job)
        m_job->cancel();
}

void CopyTask::wait()
{
    if (m_thread)
        m_thread->wait();
}

void CopyTask::onWorkerEnded(bool completed)
{
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    emit finished(completed);
}

}  // namespace velmar
