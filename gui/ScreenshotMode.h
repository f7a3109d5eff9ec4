#pragma once

#include <QString>

namespace velmar {

class FrmMain;

// For the docs: when VELMAR_SCREENSHOT_DIR names a folder, the program saves PNG pictures of
// its windows there and quits. With VELMAR_SCREENSHOT_COPY=1 it first presses the copy button
// with the fields as stored, answers every message box with its default button, and takes the
// pictures when the copy has ended. Returns false when the variable is not set.
bool startScreenshotMode(FrmMain &window);

}  // namespace velmar
