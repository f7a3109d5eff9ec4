#include "ScreenshotMode.h"

#include "FrmLog.h"
#include "FrmMain.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace velmar {

namespace {

void save(QWidget *w, const QString &folder, const QString &name)
{
    const QString path = QDir(folder).filePath(name);
    if (!w->grab().save(path))
        qWarning("screenshot: cannot write %s", qPrintable(path));
}

// Pictures and answers every message box as it comes up.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QString folder)
        : m_folder(std::move(folder))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show) {
            QTimer::singleShot(0, box, [this, box] {
                save(box, m_folder, QStringLiteral("message-%1.png").arg(++m_count));
                if (QAbstractButton *b = box->defaultButton())
                    b->click();
            });
        }
        return false;
    }

private:
    QString m_folder;
    int m_count = 0;
};

}  // namespace

bool startScreenshotMode(FrmMain &window)
{
    const QString folder = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return false;
    QDir().mkpath(folder);

    if (qEnvironmentVariable("VELMAR_SCREENSHOT_COPY") != QLatin1String("1")) {
        QTimer::singleShot(0, &window, [&window, folder] {
            save(&window, folder, QStringLiteral("main.png"));
            qApp->quit();
        });
        return true;
    }

    auto *answerer = new BoxAnswerer(folder);
    answerer->setParent(&window);
    qApp->installEventFilter(answerer);
    QObject::connect(&window, &FrmMain::copyFinished, &window, [&window, folder] {
        save(&window, folder, QStringLiteral("main.png"));
        if (FrmLog *log = window.loadedLogWindow())
            save(log, folder, QStringLiteral("log.png"));
        qApp->quit();
    });
    QTimer::singleShot(0, &window, [&window] { window.cmdCopy->click(); });
    return true;
}

}  // namespace velmar
