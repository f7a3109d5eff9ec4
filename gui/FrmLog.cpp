#include "FrmLog.h"

#include "UiFont.h"

#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>

namespace velmar {

FrmLog::FrmLog(QWidget *owner)
    : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("FrmLog"));
    setWindowTitle(QStringLiteral("처리결과"));
    // Closing it unloads it: the next entry or copy starts on a fresh, empty window.
    setAttribute(Qt::WA_DeleteOnClose);
    if (owner)
        setWindowIcon(owner->windowIcon());

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFont(uiFont());
    // Command lines are long: scroll sideways rather than wrap them.
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setReadOnly(true);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setFrameShape(QFrame::StyledPanel);

    resize(initialSize());
    Form_Resize();
}

QSize FrmLog::initialSize()
{
    return QSize(9780 / 15, 5355 / 15);
}

void FrmLog::AddLog(const QString &line)
{
    QTextCursor caret = Text1->textCursor();
    caret.movePosition(QTextCursor::End);
    Text1->setTextCursor(caret);
    Text1->insertPlainText(line + QStringLiteral("\r\n"));
    Text1->ensureCursorVisible();
}

void FrmLog::clear()
{
    Text1->clear();
}

QString FrmLog::text() const
{
    // The document keeps line breaks as block ends; the log's entries end in CR LF.
    QString plain = Text1->toPlainText();
    plain.replace(u'\n', QStringLiteral("\r\n"));
    return plain;
}

void FrmLog::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void FrmLog::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A size set while minimised reaches the text box when the window comes back.
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void FrmLog::Form_Resize()
{
    if (isMinimized())
        return;
    Text1->setGeometry(0, 0, width(), height());
}

void FrmLog::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (QWidget *owner = parentWidget()) {
        const QScreen *screen = owner->screen();
        setGeometry(placedBeside(owner->frameGeometry(), size(), owner->frameGeometry().size() - owner->size(),
                                 screen ? screen->availableGeometry() : QRect()));
    }
}

QRect FrmLog::placedBeside(const QRect &ownerFrame, const QSize &client, const QSize &frame, const QRect &area)
{
    // The frame's share above and left of the client area, as the owner's frame has it.
    const int frameLeft = frame.width() / 2;
    const int frameTop = frame.height() - frameLeft;
    const int outerWidth = client.width() + frame.width();
    const int outerHeight = client.height() + frame.height();
    constexpr int kGap = 8;
    int left = ownerFrame.right() + 1 + kGap;  // beside it on the right, where there is room
    if (area.isValid() && left + outerWidth > area.right() + 1) {
        const int onLeft = ownerFrame.left() - kGap - outerWidth;
        if (onLeft >= area.left())
            left = onLeft;
        else  // room on neither side: the side with more of it
            left = area.right() + 1 - ownerFrame.right() > ownerFrame.left() - area.left() ? area.right() + 1 - outerWidth
                                                                                               : area.left();
    }
    int top = ownerFrame.top();
    if (area.isValid()) {
        left = qBound(area.left(), left, qMax(area.left(), area.right() + 1 - outerWidth));
        top = qBound(area.top(), top, qMax(area.top(), area.bottom() + 1 - outerHeight));
    }
    return QRect(QPoint(left + frameLeft, top + frameTop), client);
}

}  // namespace velmar
