#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velmar {

// The maker's companion programs in the program folder.
inline const QString kUpdaterFileName = QStringLiteral("Zephlane.exe");
inline const QString kFileChangerFileName = QStringLiteral("brackwell.exe");

// Everything the self-update takes from the running program. current() gives the real values;
// tests put in their own folder, names, server and end-of-program action.
struct UpdateEnvironment {
    QString programFolder;    // no closing separator
    QString programFileName;  // e.g. velmar.exe
    int programRevision = 0;  // third number of the program's version
    // Update folder on the maker's server, ending in "/"; empty when the build names no server.
    QString updateBaseUrl;
    // Ends the program at once; the default never returns.
    std::function<void()> endProgram;
    // Starts a program without waiting for it.
    std::function<bool(const QString &program, const QStringList &arguments,
                       const QString &directory, bool minimized)>
        startProgram;

    static UpdateEnvironment current();
};

// The update folder on a maker's server (scheme and host): server + "/download/tessavo_v1/";
// empty for an empty server.
QString updateBaseUrl(const QString &makerServer);

// A path counts as present when it names an existing file that is neither hidden (on Linux: a
// name starting with "."), nor a system file, nor a folder.
bool FileIsPresent(const QString &path);

// Saves the resource at url to localPath. The body goes to a temporary file beside the target,
// which replaces the target only when the server answered 2xx and the whole body arrived.
bool DownloadFile(const QString &url, const QString &localPath);

// Brings the local updater and file changer up to date with the published ones. True: the
// updater is current (or has just been made so) and may be run; false: it must not run now.
bool AutoUpdaterSelfUpdate();
bool AutoUpdaterSelfUpdate(const UpdateEnvironment &env);

// Start-up hand-over: brings the updater current (unless skipSelfUpdate), runs it and waits,
// and when it has left "New_" + the program file name in the program folder, starts the file
// changer and ends the program. Returns false whenever it returns. Without an update server in
// the build and with skipSelfUpdate false it returns false at once, without a message.
bool RunAutoUpdate(bool &skipSelfUpdate);
bool RunAutoUpdate(bool &skipSelfUpdate, const UpdateEnvironment &env);

}  // namespace velmar
