#include "ProgramInfo.h"

#include "BuildInfo.h"

#include <QCoreApplication>
#include <QDir>

namespace velmar {

QString programTitle()
{
    return QStringLiteral("velmar");
}

QString programFolder()
{
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    while (dir.size() > 1 && dir.endsWith(pathSeparator()))
        dir.chop(1);
    return dir;
}

QChar pathSeparator()
{
    return QDir::separator();
}

ProgramVersion programVersion()
{
    return {VELMAR_VERSION_MAJOR, VELMAR_VERSION_MINOR, VELMAR_VERSION_PATCH};
}

QString makerServer()
{
    QString s = QStringLiteral(VELMAR_MAKER_SERVER);
    while (s.endsWith(u'/'))
        s.chop(1);
    return s;
}

}  // namespace velmar
