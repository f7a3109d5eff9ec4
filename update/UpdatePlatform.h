#pragma once

#include <QString>

// What the self-update does differently per platform, each behind one function.
namespace velmar::platform {

// A file the system marks as its own (Windows' system attribute); never on other platforms.
bool isSystemFile(const QString &path);

// The program that opens a folder in the file browser ("explorer.exe" on Windows).
QString fileBrowserProgram();

// The running program's file name as the updater knows it: on Windows the executable's name
// without extension followed by ".exe", elsewhere the executable's own name.
QString ownProgramFileName();

}  // namespace velmar::platform
