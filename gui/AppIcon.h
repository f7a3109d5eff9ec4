#pragma once

#include <QIcon>

namespace velmar {

// The program's icon: a database drum with an arrow down onto this machine. Drawn, so the
// program needs no image files; the windows and message boxes take it from the application.
QIcon appIcon();

}  // namespace velmar
