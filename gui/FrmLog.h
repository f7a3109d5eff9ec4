#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace velmar {

// "처리결과": what one copy did, one entry per AddLog. Lives only on screen.
class FrmLog : public QWidget {
    Q_OBJECT
public:
    // owner: the main window; the log window stays a separate, resizable window above it.
    explicit FrmLog(QWidget *owner);

    // Appends line + CR LF at the very end, wherever the caret stood, and keeps the newest
    // entry in view.
    void AddLog(const QString &line);
    void clear();

    // The log as the writers wrote it: every entry followed by CR LF.
    QString text() const;

    // Client size at the first show: 9780 x 5355 twips.
    static QSize initialSize();

    // Where the window goes at its first show: beside its owner's frame (right, else left),
    // top edges level, inside the available area of the owner's screen; overlapping the owner
    // only where neither side has room. client is this window's client size, frame what a
    // frame adds to it; the result is the client area.
    static QRect placedBeside(const QRect &ownerFrame, const QSize &client, const QSize &frame, const QRect &area);

    QPlainTextEdit *Text1 = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Resize();
    bool m_placed = false;
};

}  // namespace velmar
