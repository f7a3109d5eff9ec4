#include "BoxWatcher.h"

#include <QPushButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace velmar::test {

BoxWatcher::BoxWatcher()
{
    qApp->installEventFilter(this);
}

BoxWatcher::~BoxWatcher()
{
    qApp->removeEventFilter(this);
}

void BoxWatcher::answer(std::initializer_list<QMessageBox::StandardButton> buttons)
{
    m_answers.insert(m_answers.end(), buttons.begin(), buttons.end());
}

QStringList BoxWatcher::texts() const
{
    QStringList t;
    for (const Box &b : m_boxes)
        t << b.text;
    return t;
}

bool BoxWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            // Answer from the box's own event loop, once it runs.
            QPointer<QMessageBox> guard(box);
            QTimer::singleShot(0, box, [this, guard] {
                if (guard)
                    respond(guard);
            });
        }
    }
    return false;
}

void BoxWatcher::respond(QMessageBox *box)
{
    Box b;
    b.title = box->windowTitle();
    b.text = box->text();
    b.icon = box->icon();
    b.buttons = box->standardButtons();
    if (box->defaultButton())
        b.defaultButton = box->standardButton(box->defaultButton());
    m_boxes << b;
    if (m_onShown)
        m_onShown(b);

    QAbstractButton *press = box->defaultButton();
    if (!m_answers.empty()) {
        const QMessageBox::StandardButton scripted = m_answers.front();
        m_answers.pop_front();
        if (scripted == QMessageBox::NoButton)
            return;
        press = box->button(scripted);
    }
    if (press)
        press->click();
    else
        box->reject();
}

}  // namespace velmar::test
