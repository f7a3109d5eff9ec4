#include "AppIcon.h"
#include "FrmMain.h"
#include "GuiMessenger.h"
#include "ProgramInfo.h"
#include "UiFont.h"

#ifdef VELMAR_SCREENSHOT_MODE
#include "ScreenshotMode.h"
#endif

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(velmar::programTitle());
    // Message boxes and the log window take the Korean font too, so Hangul renders everywhere.
    QApplication::setFont(velmar::uiFont());
    QApplication::setWindowIcon(velmar::appIcon());
    // Qt's own texts (context menus, standard dialogs) in Korean: from translations/ beside the
    // program (the Windows package), else from Qt's folder.
    QTranslator qtKorean;
    if (qtKorean.load(QStringLiteral("qtbase_ko"), QApplication::applicationDirPath() + QStringLiteral("/translations"))
        || qtKorean.load(QStringLiteral("qtbase_ko"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtKorean);

    velmar::FrmMain window;
    velmar::setMessenger(window.windowMessenger());
    window.show();
#ifdef VELMAR_SCREENSHOT_MODE
    velmar::startScreenshotMode(window);
#endif
    const int rc = app.exec();
    velmar::setMessenger(nullptr);
    return rc;
}
