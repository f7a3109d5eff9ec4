#include "GuiMessenger.h"

#include "FrmMain.h"
#include "ProgramInfo.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QMutexLocker>
#include <QThread>
#include <QUrl>

#include <memory>

namespace velmar {

namespace {

QMessageBox::Icon boxIcon(Icon icon)
{
    switch (icon) {
    case Icon::None: return QMessageBox::NoIcon;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

// A question asked from a worker, answered on the window's thread.
struct PendingAnswer {
    bool done = false;
    Answer answer = Answer::Ok;
};

}  // namespace

GuiMessenger::GuiMessenger(FrmMain *window)
    : QObject(window)
    , m_window(window)
{
}

bool GuiMessenger::onWindowThread() const
{
    return QThread::currentThread() == thread();
}

Answer GuiMessenger::unattendedAnswer(const Message &message)
{
    return message.buttons == Buttons::Ok ? Answer::Ok : Answer::No;
}

Answer GuiMessenger::show(const Message &message)
{
    if (onWindowThread())
        return showNow(message);

    auto pending = std::make_shared<PendingAnswer>();
    QMetaObject::invokeMethod(
        this,
        [this, message, pending] {
            const Answer a = showNow(message);
            QMutexLocker lock(&m_mutex);
            pending->answer = a;
            pending->done = true;
            m_answered.wakeAll();
        },
        Qt::QueuedConnection);

    QMutexLocker lock(&m_mutex);
    while (!pending->done && !m_closing)
        m_answered.wait(&m_mutex);
    return pending->done ? pending->answer : unattendedAnswer(message);
}

Answer GuiMessenger::showNow(const Message &message)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_closing)
            return unattendedAnswer(message);
    }
    QMessageBox box(boxIcon(message.icon), message.title.isEmpty() ? programTitle() : message.title,
                    message.text, QMessageBox::NoButton, m_window);
    if (message.buttons == Buttons::Ok) {
        QPushButton *ok = box.addButton(QMessageBox::Ok);
        ok->setText(QStringLiteral("확인"));
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    } else {
        QPushButton *yes = box.addButton(QMessageBox::Yes);
        QPushButton *no = box.addButton(QMessageBox::No);
        yes->setText(QStringLiteral("예(&Y)"));
        no->setText(QStringLiteral("아니요(&N)"));
        box.setDefaultButton(message.defaultButton == Answer::No ? no : yes);
        box.setEscapeButton(no);
    }
    // A box over another one (the copy's end over the close question) gives the outer one back.
    const QPointer<QMessageBox> outer = m_box;
    m_box = &box;
    box.exec();
    m_box = outer;

    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Ok: return Answer::Ok;
    default: return unattendedAnswer(message);
    }
}

void GuiMessenger::addLog(const QString &line)
{
    if (onWindowThread()) {
        m_window->AddLog(line);
        return;
    }
    QMetaObject::invokeMethod(this, [this, line] { m_window->AddLog(line); }, Qt::QueuedConnection);
}

void GuiMessenger::clearLog()
{
    if (onWindowThread()) {
        m_window->clearAndShowLog();
        return;
    }
    QMetaObject::invokeMethod(this, [this] { m_window->clearAndShowLog(); }, Qt::QueuedConnection);
}

void GuiMessenger::openUrl(const QString &url)
{
    if (onWindowThread()) {
        QDesktopServices::openUrl(QUrl(url));
        return;
    }
    QMetaObject::invokeMethod(this, [url] { QDesktopServices::openUrl(QUrl(url)); },
                              Qt::QueuedConnection);
}

void GuiMessenger::closeOpenBox()
{
    if (m_box)
        m_box->reject();
}

void GuiMessenger::setClosing(bool closing)
{
    {
        QMutexLocker lock(&m_mutex);
        m_closing = closing;
        m_answered.wakeAll();
    }
    if (closing && m_box)
        m_box->reject();
}

}  // namespace velmar
