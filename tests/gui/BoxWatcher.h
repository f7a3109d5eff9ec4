#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

namespace velmar::test {

// Answers the real message boxes that the window shows, and records each as it appeared.
// Installed on the application while it lives.
class BoxWatcher : public QObject {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    };

    BoxWatcher();
    ~BoxWatcher() override;

    // The buttons to press for the next boxes, in order; then the default button. NoButton
    // leaves that box alone for the test to close.
    void answer(std::initializer_list<QMessageBox::StandardButton> buttons);
    // Runs when a box has come up, before it is answered: to look at the windows then.
    void onShown(std::function<void(const Box &)> f) { m_onShown = std::move(f); }

    QList<Box> boxes() const { return m_boxes; }
    QStringList texts() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void respond(QMessageBox *box);

    QList<Box> m_boxes;
    std::deque<QMessageBox::StandardButton> m_answers;
    std::function<void(const Box &)> m_onShown;
};

}  // namespace velmar::test
