#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>

namespace velmar {

// The fields of the main window that a copy reads.
enum class FieldId {
    None,       // leave the focus where it is
    chkWork0,   // first stage box
    cmbField0,  // host
    cmbField1,  // DB prefix
    txtField0,  // user
    txtField1,  // dump options
    txtField2,  // new user
    txtField3,  // new DB
    txtField4,  // foreign-key folder
};

// The values of the window's fields when the copy starts.
struct CopyRequest {
    QString host;         // cmbField(0)  "&HOST:"
    QString dbPrefix;     // cmbField(1)  "&DB:"
    QString user;         // txtField(0)  "&USER:"
    QString dumpOption;   // txtField(1)  "&option:"
    QString newUser;      // txtField(2)  "N&ew USER:"
    QString newDB;        // txtField(3)  "&New DB:"
    QString foreignPath;  // txtField(4)  "외래키파일경로:"
    bool foreign = false;     // chkField(0) "외래키 처리"
    bool existDBDel = false;  // chkField(1) drop an existing local database without asking
    bool onOrdUser = false;   // chkField(2) also grant the _ord user
    bool stage[3] = {true, true, true};  // chkWork(0..2)

    // The folder of the dump folder and the working folder of the programs; empty: the
    // program's own folder.
    QString programFolder;
};

struct ValidationResult {
    bool passed = false;
    FieldId focus = FieldId::None;  // where the window puts the focus after the message
};

// The checks of the copy button, in their fixed order. The first failing check shows its message
// (an OK-only box) through the messenger and names the field that gets the focus.
ValidationResult ValidateCopyRequest(const CopyRequest &request);

// True when the host text names this machine's own server (localhost, 127.x.x.x, ::1, this
// machine's name; any letter case, blanks around, an optional :port).
bool isLocalHost(const QString &hostText);

// The stages of a running copy, for progress displays.
enum class CopyStage { Idle, CheckSource, CheckTarget, Dump, Rewrite, Import, ForeignKeys, Grants, Done };

// One copy from a source server onto the local server. Widget-free: it talks to the user only
// through the messenger (message boxes, questions, AddLog) and reports progress by signal.
// ProcCopy blocks its caller's thread until the job ends; the window runs it on a worker thread.
class CopyJob : public QObject {
    Q_OBJECT
public:
    explicit CopyJob(CopyRequest request, QObject *parent = nullptr);

    // The derived names of the request.
    QString SourceDBName;
    QString NewDBName;
    QString NewUserName;

    // Runs the ticked stages; true after "복사완료", false when the job stopped.
    bool ProcCopy();

    // Stops the job at once from any thread: the running program is killed and no later step
    // runs. Nothing that existed before the copy is lost.
    void cancel();
    bool isCancelled() const { return m_cancel.load(); }

    // The stages, public for their tests.
    bool IsExistDB(const QString &host, const QString &dbName, bool deleteIfExists);
    bool SETP_DBDump();
    bool STEP_EditSQLFile();
    bool SETP_DBImport();
    bool AddUser();
    qint32 ExecSQLLog(const QString &statement);

    QString dumpFolder() const;      // <program folder>/dump
    QString dumpFilePath() const;    // <dump folder>/<SourceDBName>.sql
    QString editedFilePath() const;  // <dump folder>/<SourceDBName>_2.sql

    const CopyRequest &request() const { return m_request; }

signals:
    void stageStarted(velmar::CopyStage stage);
    // done and total in bytes (total -1 when unknown); bytesPerSecond over the stage so far.
    void progress(velmar::CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);
    // The window moves the focus here (after the missing-source message).
    void focusRequested(velmar::FieldId field);

private:
    bool runStages();
    bool goesOn(bool stepSucceeded);
    bool dropTarget();
    bool runClient(const QString &inputFile, CopyStage stage);

    CopyRequest m_request;
    std::atomic_bool m_cancel{false};
    bool m_dropPending = false;  // the target is to be dropped once the new dump is ready
    bool m_cancelLogged = false;
};

// Appends one entry to the log (the log window, velmar-cli's output, a test's record).
void AddLog(const QString &line);

// "hh:mm:ss"; hours keep counting past 24.
QString formatElapsed(qint64 milliseconds);

// Puts from in the place of to in one step (an existing to is replaced). On Windows a file that is
// held for a moment is tried again for up to two seconds; error gets the system's reason.
bool replaceFile(const QString &from, const QString &to, QString *error);

// A database name as a GRANT pattern that matches only itself (\, _ and % escaped).
QString escapeGrantPattern(const QString &name);

}  // namespace velmar
