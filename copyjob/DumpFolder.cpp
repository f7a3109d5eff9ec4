#include "DumpFolder.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

#include <QElapsedTimer>
#include <filesystem>
#include <functional>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

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

namespace {

#ifdef Q_OS_WIN
// Right after the program that wrote a file has ended, Windows can still hold it for a moment
// (the child's handle on its way out, a virus scanner, the indexer): a rename or a remove then
// fails with a sharing violation. attempt is tried again for up to two seconds.
bool whileHeld(const std::function<bool()> &attempt, QString *error)
{
    constexpr qint64 kRetryMs = 2000;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (attempt())
            return true;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || waited.elapsed() > kRetryMs) {
            if (error)
                *error = QStringLiteral("%1 (%2)").arg(qt_error_string(int(code))).arg(code);
            return false;
        }
        Sleep(10);
    }
}
#endif

}  // namespace

bool replaceFile(const QString &from, const QString &to, QString *error)
{
#ifdef Q_OS_WIN
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    return whileHeld([&] { return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; },
                     error);
#else
    std::error_code renameError;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), renameError);
    if (renameError && error)
        *error = QString::fromStdString(renameError.message());
    return !renameError;
#endif
}

bool removeFile(const QString &path)
{
#ifdef Q_OS_WIN
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    return whileHeld([&] {
        if (DeleteFileW(name.c_str()))
            return true;
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return true;
        SetLastError(code);
        return false;
    }, nullptr);
#else
    std::error_code removeError;
    std::filesystem::remove(std::filesystem::path(path.toStdU16String()), removeError);
    return !removeError;
#endif
}

void restrictToOwner(QFileDevice &file)
{
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace velmar
