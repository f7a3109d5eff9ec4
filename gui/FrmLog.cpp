#include "FrmLog.h"

#include "UiFont.h"

#include <QPlainTextEdit>
#include <QResizeEvent>
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
        // Client areas centred: both windows carry the same frame.
        QRect r(QPoint(), size());
        r.moveCenter(owner->geometry().center());
        setGeometry(r);
    }
}

}  // namespace velmar
