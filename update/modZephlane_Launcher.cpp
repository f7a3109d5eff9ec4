#include "modZephlane_Launcher.h"

#include "Attempt.h"
#include "HttpGet.h"
#include "Messenger.h"
#include "NumberText.h"
#include "ProgramInfo.h"
#include "RaisedError.h"
#include "UpdatePlatform.h"
#include "modFile.h"
#include "modWaitProc.h"
#include "modZephlane_Download.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdlib>

namespace velmar {

namespace {

const QString kUnit = QStringLiteral("Module modZephlane_Launcher");
const QString kVersionFileSuffix = QStringLiteral("_lastver.txt");
const QString kNewVersionPrefix = QStringLiteral("New_");

QString localPath(const UpdateEnvironment &env, const QString &fileName)
{
    return env.programFolder + pathSeparator() + fileName;
}

QString textAfterLastDot(const QString &text)
{
    return text.mid(text.lastIndexOf(u'.') + 1);
}

QString withoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

// Only blanks count: a reply of line breaks is not empty.
bool isBlankText(const QString &text)
{
    for (QChar c : text) {
        if (c != u' ')
            return false;
    }
    return true;
}

// The name of a present file in folder in the form the file system stores it, which differs
// from the one asked for only in letter case on a case-insensitive file system; empty when it
// is not present.
QString storedFileName(const QString &folder, const QString &fileName)
{
    const QDir dir(folder);
    if (!FileIsPresent(dir.filePath(fileName)))
        return {};
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    if (entries.contains(fileName))
        return fileName;
    for (const QString &entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return fileName;
}

RaisedError fileNotFound()
{
    return RaisedError(err::FileNotFound, QString(), QStringLiteral("File not found"));
}

}  // namespace

UpdateEnvironment UpdateEnvironment::current()
{
    UpdateEnvironment env;
    env.programFolder = velmar::programFolder();
    env.programFileName = platform::ownProgramFileName();
    env.programRevision = programVersion().revision;
    env.updateBaseUrl = velmar::updateBaseUrl(makerServer());
    env.endProgram = [] { std::exit(0); };
    env.startProgram = StartDetached;
    return env;
}

QString updateBaseUrl(const QString &makerServer)
{
    if (makerServer.isEmpty())
        return {};
    return makerServer + QStringLiteral("/download/tessavo_v1/");
}

bool FileIsPresent(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden() && !platform::isSystemFile(path);
}

bool DownloadFile(const QString &url, const QString &localPath)
{
    QSaveFile file(localPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    bool writeFailed = false;
    const detail::HttpGetResult result = detail::httpGet(url, [&](const QByteArray &piece) {
        writeFailed = file.write(piece) != piece.size();
        return !writeFailed;
    });
    if (writeFailed || !result.completed || result.status < 200 || result.status > 299) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    // The downloaded programs are run next; where files carry an execute bit they need it.
    QFile::setPermissions(localPath, QFile::permissions(localPath) | QFileDevice::ExeOwner
                                         | QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return true;
}

bool AutoUpdaterSelfUpdate()
{
    return AutoUpdaterSelfUpdate(UpdateEnvironment::current());
}

bool AutoUpdaterSelfUpdate(const UpdateEnvironment &env)
{
    const QString procedure = QStringLiteral("AutoUpdaterSelfUpdate");
    const QString &base = env.updateBaseUrl;
    if (base.isEmpty())
        return false;

    const QString updaterPath = localPath(env, kUpdaterFileName);

    QString localRevision;
    if (!attempt(procedure, kUnit, [&] { return FileIsPresent(updaterPath); }, false)) {
        localRevision = QStringLiteral("0");
    } else {
        localRevision = attempt(procedure, kUnit, [&] {
            return textAfterLastDot(GetFileVersionText(updaterPath, true, true));
        }, QString());
    }

    const QString versionUrl = base + withoutExtension(kUpdaterFileName) + kVersionFileSuffix;
    const QString text = attempt(procedure, kUnit, [&] { return ReadUrlText(versionUrl); }, QString());
    if (isBlankText(text)) {
        msgBox(kUpdaterFileName + QStringLiteral("의 최신버전 정보를 읽어올 수 없습니다!"), Icon::Critical);
        return false;
    }

    const qint32 remoteRevision = attempt(procedure, kUnit, [&] { return toInt32(readNumber(text).value); }, 0);
    const bool current = attempt(procedure, kUnit, [&] {
        return readNumber(localRevision).value >= remoteRevision;
    }, false);
    if (current)
        return true;

    // The updater first, then the file changer; a failure stops there without a message.
    for (const QString &fileName : {kUpdaterFileName, kFileChangerFileName}) {
        const bool saved = attempt(procedure, kUnit, [&] {
            return DownloadFile(base + fileName, localPath(env, fileName));
        }, false);
        if (!saved)
            return false;
    }
    return true;
}

bool RunAutoUpdate(bool &skipSelfUpdate)
{
    return RunAutoUpdate(skipSelfUpdate, UpdateEnvironment::current());
}

bool RunAutoUpdate(bool &skipSelfUpdate, const UpdateEnvironment &env)
{
    const QString procedure = QStringLiteral("RunAutoUpdate");
    if (!skipSelfUpdate && !attempt(procedure, kUnit, [&] { return AutoUpdaterSelfUpdate(env); }, false))
        return false;

    const QString updaterPath = localPath(env, kUpdaterFileName);
    const QString programFile = attempt(procedure, kUnit, [&] {
        return storedFileName(env.programFolder, env.programFileName);
    }, QString());
    if (programFile.isEmpty())
        return false;

    const QString updaterParameters = QString::number(env.programRevision) + u';' + programFile;
    attempt(procedure, kUnit, [&] {
        RunAndWait(updaterPath, {updaterParameters}, env.programFolder, false, false);
        return true;
    }, false);

    const QString newVersionFile = localPath(env, kNewVersionPrefix + programFile);
    if (!attempt(procedure, kUnit, [&] { return FileIsPresent(newVersionFile); }, false))
        return false;

    const QString changerPath = localPath(env, kFileChangerFileName);
    if (!attempt(procedure, kUnit, [&] { return FileIsPresent(changerPath); }, false)) {
        msgBox(QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n") + changerPath);
        attempt(procedure, kUnit, [&] {
            if (!env.startProgram(platform::fileBrowserProgram(), {env.programFolder},
                                  env.programFolder, false))
                throw fileNotFound();
            return true;
        }, false);
    } else {
        const QString changerArguments = programFile + u';' + kNewVersionPrefix + programFile;
        attempt(procedure, kUnit, [&] {
            if (!env.startProgram(changerPath, {changerArguments}, env.programFolder, true))
                throw fileNotFound();
            return true;
        }, false);
    }
    env.endProgram();
    return false;
}

}  // namespace velmar
