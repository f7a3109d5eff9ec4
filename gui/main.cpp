#include "AppIcon.h"
#include "FrmMain.h"
#include "GuiMessenger.h"
#include "ProcessSetup.h"
#include "ProgramInfo.h"
#include "QtTranslations.h"
#include "RunningPrograms.h"
#include "UiFont.h"

#ifdef VELMAR_SCREENSHOT_MODE
#include "ScreenshotMode.h"
#endif

#include <QApplication>

#include <cstdlib>

namespace {

// How long a copy cancelled by closing the window may take to end once the window has gone.
constexpr int kCopyEndWaitMs = 10000;

}  // namespace

int main(int argc, char *argv[])
{
    velmar::prepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(velmar::programTitle());
    // Context menus, standard dialogs and buttons in Korean like the rest of the program.
    velmar::installQtTranslations();
    // Message boxes and the log window take the Korean font too, so Hangul renders everywhere.
    QApplication::setFont(velmar::uiFont());
    QApplication::setWindowIcon(velmar::appIcon());

    velmar::FrmMain window;
    velmar::setMessenger(window.windowMessenger());
    window.show();
#ifdef VELMAR_SCREENSHOT_MODE
    velmar::startScreenshotMode(window);
#endif
    const int rc = app.exec();
    if (!window.waitForCopyEnd(kCopyEndWaitMs)) {
        // A worker still stuck in a wait of the client library: its program goes, and so does
        // the process, rather than stay on without a window.
        velmar::killRunningPrograms();
        std::_Exit(rc);
    }
    velmar::setMessenger(nullptr);
    return rc;
}
