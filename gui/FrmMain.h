#pragma once

#include "CopyTask.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace velmar {

class FrmLog;
class GuiMessenger;

// The source servers of the host list. The two after "localhost" are this deployment's
// development database servers: set them here for another site.
inline constexpr const char16_t *kHostList[] = {
    u"localhost",
    u"devdb1.example.com",
    u"devdb2.example.com",
};

// The DB prefixes of the prefix list, in this order.
inline constexpr const char16_t *kPrefixList[] = {u"pelsar_", u"dorvik_", u"lumetta_", u"brisco_"};

// "Mysql DB복사": the start-up window. Collects the copy request, remembers every field the
// moment it changes, and runs the copy on a worker thread so that the window stays live.
class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    // The messenger that shows the copy's boxes and log lines in these windows; the program
    // installs it with setMessenger.
    GuiMessenger *windowMessenger() const { return m_messenger; }

    // Appends one entry to the log window, loading it hidden when it is not loaded.
    void AddLog(const QString &line);
    // The log window, loaded (hidden) when needed.
    FrmLog *logWindow();
    // The log window if it is loaded, else nullptr.
    FrmLog *loadedLogWindow() const;
    // Start of a copy: empty the log, show it beside this window and give it the focus.
    void clearAndShowLog();

    // The folder under which the copy writes its dump folder; empty: the program's folder.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }

    // The request as the fields stand now.
    CopyRequest copyRequest() const;
    bool isCopyRunning() const { return m_task->isRunning(); }
    // Asks the running copy to stop; it ends soon after and copyFinished follows.
    void cancelCopy();
    // After the window has gone: gives a cancelled copy up to the given time to end, running the
    // events meanwhile; false when its worker still runs.
    bool waitForCopyEnd(int milliseconds);
    // The copy that runs beside the window.
    CopyTask *copyTask() const { return m_task; }

    QWidget *fieldWidget(FieldId field) const;

    // The client area as laid out: the given 5490 x 7665 twips plus the progress row.
    static QSize clientSize();

    // The controls, by their names and indexes.
    std::array<QComboBox *, 2> cmbField{};
    std::array<QLineEdit *, 5> txtField{};
    std::array<QCheckBox *, 3> chkField{};
    std::array<QCheckBox *, 3> chkWork{};
    QCheckBox *chkDefiner = nullptr;  // definers the local server lacks are made, locked
    QCheckBox *chkChangedOnly = nullptr;  // a refresh of the changed tables only
    QPushButton *cmdCopy = nullptr, *cmdClose = nullptr, *cmdChkAll = nullptr;
    QGroupBox *Frame1 = nullptr, *Frame2 = nullptr, *Frame3 = nullptr, *Frame4 = nullptr;
    std::array<QLabel *, 2> Label1{};
    std::array<QLabel *, 2> Label2{};
    std::array<QLabel *, 8> Label3{};
    QLabel *Label4 = nullptr;
    // Below the buttons: the running copy's progress, its cancel button and a status line.
    QProgressBar *pgbCopy = nullptr;
    QPushButton *cmdCancel = nullptr;
    QLabel *lblStatus = nullptr;

signals:
    void copyStarted();
    // After ProcCopy has returned and the window is usable again; completed: ProcCopy's result.
    void copyFinished(bool completed);

public slots:
    void onStageStarted(velmar::CopyStage stage);
    void onProgress(velmar::CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void Form_Load();
    void runStartupUpdate();
    void cmdCopy_Click();
    void cmdClose_Click();
    void cmdChkAll_Click();
    void cmdCancel_Click();
    void chkField_Click(int index);
    void cmbField_Change(int index);
    void cmbField_Click(int index);
    void txtField_Change(int index);

    void startCopy(const CopyRequest &request);
    void onCopyEnded(bool completed);
    void setCopyRunning(bool running);
    void resetProgress();
    void moveFocusTo(FieldId field);

    GuiMessenger *m_messenger = nullptr;
    QPointer<FrmLog> m_log;
    QString m_programFolder;

    CopyTask *m_task = nullptr;
    bool m_closeRequested = false;
    bool m_closeQuestionOpen = false;  // the close question is on screen
    FieldId m_pendingFocus = FieldId::None;
};

}  // namespace velmar
