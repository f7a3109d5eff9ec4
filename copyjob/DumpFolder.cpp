#include "DumpFolder.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

namespace velmar {

namespace {

QString encoded(QChar c)
{
    return u'@' + QStringLiteral("%1").arg(c.unicode(), 4, 16, QChar(u'0'));
}

bool isDeviceName(const QString &name)
{
    static const QStringList devices {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                      QStringLiteral("NUL")};
    // Windows takes "con.sql" (and "con.x.sql") for the device as well.
    const QString stem = name.section(u'.', 0, 0).toUpper();
    if (devices.contains(stem))
        return true;
    return stem.size() == 4
        && (stem.startsWith(QStringLiteral("COM")) || stem.startsWith(QStringLiteral("LPT")))
        && stem.at(3) >= u'1' && stem.at(3) <= u'9';
}

}  // namespace

QString dumpFileBaseName(const QString &dbName)
{
    // Closing dots and blanks are dropped by Windows, and "." and ".." are folders.
    qsizetype plainEnd = dbName.size();
    while (plainEnd > 0 && (dbName.at(plainEnd - 1) == u'.' || dbName.at(plainEnd - 1) == u' '))
        --plainEnd;
    QString name;
    name.reserve(dbName.size());
    for (qsizetype i = 0; i < dbName.size(); ++i) {
        const QChar c = dbName.at(i);
        const bool unsafe = c.unicode() < 0x20 || QStringView(u"/\\:*?\"<>|@").contains(c) || i >= plainEnd
            || (i == 0 && isDeviceName(dbName));
        name += unsafe ? encoded(c) : QString(c);
    }
    return name;
}

bool canWriteFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/velmar-XXXXXX.probe"));
    return probe.open();
}

QString userDumpFolder()
{
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                    + QStringLiteral("/velmar/dump"));
}

}  // namespace velmar
