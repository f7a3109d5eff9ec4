#include "FrmMain.h"
#include "GuiMessenger.h"
#include "ProgramInfo.h"
#include "ScreenshotMode.h"
#include "UiFont.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(velmar::programTitle());
    // Message boxes and the log window take the Korean font too, so Hangul renders everywhere.
    QApplication::setFont(velmar::uiFont());

    velmar::FrmMain window;
    velmar::setMessenger(window.windowMessenger());
    window.show();
    velmar::startScreenshotMode(window);
    const int rc = app.exec();
    velmar::setMessenger(nullptr);
    return rc;
}
