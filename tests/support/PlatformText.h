#pragma once

#include <QDir>
#include <QString>

namespace velmar::test {

// Paths and program names as the program shows them on the platform the tests run on: users of
// Windows expect "\" and mysqldump.exe there.
inline QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

inline QString programName(const QString &bareName)
{
#ifdef Q_OS_WIN
    return bareName + QStringLiteral(".exe");
#else
    return bareName;
#endif
}

}  // namespace velmar::test
