#pragma once

#include <QString>

namespace velmar {

// The program's title: the application name of the settings store and the title of every
// message box that names none.
QString programTitle();

// The folder of the running executable, in native form without a closing separator: the base
// of the dump files and the updater files and the working folder of every external program.
QString programFolder();

// The path separator of local paths as they are shown and logged ("\" on Windows, "/" elsewhere).
QChar pathSeparator();

struct ProgramVersion {
    int major;
    int minor;
    int revision;
};
ProgramVersion programVersion();

// Base URL of the maker's web server fixed at build time; empty when the build names none.
QString makerServer();

}  // namespace velmar
