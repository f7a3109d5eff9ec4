#include "UpdatePlatform.h"

#include <QCoreApplication>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmar::platform {

bool isSystemFile(const QString &path)
{
#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(path.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_SYSTEM);
#else
    Q_UNUSED(path);
    return false;
#endif
}

QString fileBrowserProgram()
{
#ifdef Q_OS_WIN
    return QStringLiteral("explorer.exe");
#else
    return QStringLiteral("xdg-open");
#endif
}

QString ownProgramFileName()
{
    const QFileInfo exe(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return exe.completeBaseName() + QStringLiteral(".exe");
#else
    return exe.fileName();
#endif
}

}  // namespace velmar::platform
