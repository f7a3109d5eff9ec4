#pragma once

#include "Messenger.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWaitCondition>

class QMessageBox;

namespace velmar {

class FrmMain;

// The messenger of the windows: message boxes over the main window, log entries in its log
// window. Callable from any thread: calls from a worker are carried to the window's thread in
// the order they were made, and a message box holds its caller until it is answered.
class GuiMessenger : public QObject, public Messenger {
    Q_OBJECT
public:
    explicit GuiMessenger(FrmMain *window);

    Answer show(const Message &message) override;
    void addLog(const QString &line) override;
    void clearLog() override;
    void openUrl(const QString &url) override;

    // Closes the box that is open on the window's thread, as if it was dismissed (a question's
    // safe answer).
    void closeOpenBox();

    // The window is going away: the open box is closed and every question from now on gets
    // its safe answer (No, or OK) without a box, so that no worker waits on a window.
    void setClosing(bool closing);

private:
    bool onWindowThread() const;
    Answer showNow(const Message &message);
    static Answer unattendedAnswer(const Message &message);

    FrmMain *m_window;
    QPointer<QMessageBox> m_box;

    QMutex m_mutex;
    QWaitCondition m_answered;
    bool m_closing = false;
};

}  // namespace velmar
