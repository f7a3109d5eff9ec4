#pragma once

#include "CopyContext.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QLockFile;

namespace velmar {

// One copy from a source server onto the local server. Widget-free: it talks to the user only
// through the messenger (message boxes, questions, AddLog) and reports progress by signal.
// ProcCopy blocks its caller's thread until the job ends; CopyTask runs it on a worker thread.
class CopyJob : public QObject {
    Q_OBJECT
public:
    explicit CopyJob(CopyRequest request, QObject *parent = nullptr);
    ~CopyJob() override;

    // The derived names of the request.
    QString SourceDBName() const { return m_ctx.SourceDBName(); }
    QString NewDBName() const { return m_ctx.NewDBName(); }
    QString NewUserName() const { return m_ctx.NewUserName(); }

    // Runs the ticked stages; true after "복사완료", false when the job stopped.
    bool ProcCopy();

    // Stops the job at once from any thread: the running program is killed and no later step
    // runs. Nothing that existed before the copy is lost.
    void cancel();
    bool isCancelled() const { return m_ctx.isCancelled(); }

    QString dumpFolder() const { return m_ctx.dumpFolder(); }
    QString dumpFilePath() const { return m_ctx.dumpFilePath(); }
    QString editedFilePath() const { return m_ctx.editedFilePath(); }
    const CopyRequest &request() const { return m_ctx.request; }

signals:
    void stageStarted(velmar::CopyStage stage);
    // done and total in bytes (total -1 when unknown); bytesPerSecond over the stage so far.
    void progress(velmar::CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);
    // The window moves the focus here (after the missing-source message).
    void focusRequested(velmar::FieldId field);

private:
    bool runStages();
    // Locks this copy's dump files and new database against another copy running at the same
    // time; false (the reason shown) when another copy holds one. A crashed copy's lock is stale.
    bool claimFiles(std::vector<std::unique_ptr<QLockFile>> &locks);
    bool checkSource();
    bool checkTarget();
    // The import of a full copy loads the dump while it is being written, unless an existing
    // database is replaced and the server's folder may lack room for both.
    bool importCanFollowDump();
    // A refresh of the changed tables only: finds them, or says why the copy is a full one.
    bool findChanges();
    // [dump, rewrite, import] one after the other, each as the request ticks it.
    bool runSeparately();
    // [followed copy, import]: the rewrite and the load follow the dump as it is written.
    bool runFollowed();
    bool rewriteSteps();
    bool importStep();  // the import of the finished rewrite
    // Announces a stage (and its log line, when it has one) and runs it, unless cancelled; false
    // when it stopped the copy or a cancel came.
    bool runStep(CopyStage stage, const QString &logLine, const std::function<bool()> &step);
    bool goesOn(bool stepSucceeded) const { return stepSucceeded && !isCancelled(); }

    CopyContext m_ctx;
};

// Appends one entry to the log (the log window, velmar-cli's output, a test's record).
void AddLog(const QString &line);

// "hh:mm:ss"; hours keep counting past 24.
QString formatElapsed(qint64 milliseconds);

}  // namespace velmar
