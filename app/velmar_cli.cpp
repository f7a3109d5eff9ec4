// velmar-cli: runs the same copy as the window's copy button, from the remembered fields of the
// window overridden by options. It reads the settings store but never writes it.
//
// Exit status: 0 after "복사완료", 1 when the job stopped, 2 when the request was refused.

#include "CliMessenger.h"
#include "CopyJob.h"
#include "ProgramInfo.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>

using namespace velmar;

namespace {

std::atomic<CopyJob *> runningJob{nullptr};

// The first Ctrl+C cancels the copy (its programs are stopped and partial files removed); a
// second one ends velmar-cli at once, e.g. while it waits for a server that does not answer.
extern "C" void onInterrupt(int signal)
{
    std::signal(signal, SIG_DFL);
    if (CopyJob *job = runningJob.load())
        job->cancel();
}

CopyRequest rememberedRequest()
{
    CopyRequest r;
    r.host = GetConfig(cfgHost);
    r.dbPrefix = GetConfig(cfgSrcDB);
    r.user = GetConfig(cfgSrcUser);
    r.dumpOption = GetConfig(cfgDumpOption);
    r.foreign = settingAsNumber(GetConfig(cfgForeign)) != 0;
    r.foreignPath = GetConfig(cfgForeignPath);
    r.existDBDel = settingAsNumber(GetConfig(cfgExistDBDel)) != 0;
    r.onOrdUser = settingAsNumber(GetConfig(cfgOnOrdUser)) != 0;
    r.newDB = GetConfig(cfgNewDB);
    r.newUser = GetConfig(cfgNewUser);
    return r;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(programTitle());
    const ProgramVersion v = programVersion();
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "지정한 서버의 DB를  현컴퓨터(로컬)로 복사합니다.\n"
        "Copies one database from a server onto this machine's MySQL/MariaDB server.\n"
        "Starts from the fields the window remembers; options override them.\n"
        "Exit status: 0 copied, 1 the copy stopped, 2 the request was refused."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Source server (name or name:port)."), QStringLiteral("host"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("Database name prefix, e.g. pelsar_."), QStringLiteral("prefix"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Source user; completes the source database name."), QStringLiteral("user"));
    const QCommandLineOption option(QStringLiteral("option"), QStringLiteral("Options for the dump program (default -q -e)."), QStringLiteral("options"));
    const QCommandLineOption newDb(QStringLiteral("new-db"), QStringLiteral("Local database to create (default: the source name)."), QStringLiteral("name"));
    const QCommandLineOption newUser(QStringLiteral("new-user"), QStringLiteral("User to be granted (default: the source user)."), QStringLiteral("name"));
    const QCommandLineOption fk(QStringLiteral("fk"), QStringLiteral("Load the foreign-key script after the import."));
    const QCommandLineOption noFk(QStringLiteral("no-fk"), QStringLiteral("Do not load a foreign-key script."));
    const QCommandLineOption fkPath(QStringLiteral("fk-path"), QStringLiteral("Folder of the foreign-key scripts."), QStringLiteral("folder"));
    const QCommandLineOption dropExisting(QStringLiteral("drop-existing"), QStringLiteral("Drop an existing local database of the new name without asking."));
    const QCommandLineOption askBeforeDrop(QStringLiteral("ask-before-drop"), QStringLiteral("Ask before dropping an existing local database."));
    const QCommandLineOption ordUser(QStringLiteral("ord-user"), QStringLiteral("Also grant the <user>_ord account."));
    const QCommandLineOption noOrdUser(QStringLiteral("no-ord-user"), QStringLiteral("Do not grant the _ord account."));
    const QCommandLineOption stages(QStringLiteral("stages"), QStringLiteral("Stages to run: 1 dump, 2 import, 3 grants (default 1,2,3)."), QStringLiteral("list"), QStringLiteral("1,2,3"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Answer Yes to every question."));
    const QCommandLineOption workFolder(QStringLiteral("work-folder"), QStringLiteral("Folder whose dump/ subfolder holds the dump files (default: the program's folder)."), QStringLiteral("folder"));
    parser.addOptions({host, db, user, option, newDb, newUser, fk, noFk, fkPath, dropExisting, askBeforeDrop,
                       ordUser, noOrdUser, stages, yes, workFolder});
    parser.process(app);

    auto conflict = [&](const QCommandLineOption &a, const QCommandLineOption &b) {
        if (parser.isSet(a) && parser.isSet(b)) {
            writeText(stderr, QStringLiteral("--%1 and --%2 exclude each other.\n")
                                  .arg(a.names().first(), b.names().first()));
            std::exit(2);
        }
    };
    conflict(fk, noFk);
    conflict(dropExisting, askBeforeDrop);
    conflict(ordUser, noOrdUser);

    CopyRequest request = rememberedRequest();
    if (parser.isSet(host)) request.host = parser.value(host);
    if (parser.isSet(db)) request.dbPrefix = parser.value(db);
    if (parser.isSet(user)) request.user = parser.value(user);
    if (parser.isSet(option)) request.dumpOption = parser.value(option);
    if (parser.isSet(newDb)) request.newDB = parser.value(newDb);
    if (parser.isSet(newUser)) request.newUser = parser.value(newUser);
    if (parser.isSet(fk)) request.foreign = true;
    if (parser.isSet(noFk)) request.foreign = false;
    if (parser.isSet(fkPath)) request.foreignPath = parser.value(fkPath);
    if (parser.isSet(dropExisting)) request.existDBDel = true;
    if (parser.isSet(askBeforeDrop)) request.existDBDel = false;
    if (parser.isSet(ordUser)) request.onOrdUser = true;
    if (parser.isSet(noOrdUser)) request.onOrdUser = false;
    if (parser.isSet(workFolder)) request.programFolder = parser.value(workFolder);

    request.stage[0] = request.stage[1] = request.stage[2] = false;
    const QString stageList = parser.value(stages).trimmed();
    if (!stageList.isEmpty()) {
        for (const QString &s : stageList.split(u',')) {
            const QString t = s.trimmed();
            if (t == u"1" || t == u"2" || t == u"3") {
                request.stage[t.toInt() - 1] = true;
            } else {
                writeText(stderr, QStringLiteral("--stages takes 1, 2 and 3 separated by commas, not \"%1\".\n").arg(t));
                return 2;
            }
        }
    }

    CliMessenger cli(parser.isSet(yes));
    setMessenger(&cli);

    if (!ValidateCopyRequest(request).passed)
        return 2;

    CopyJob job(request);
    runningJob.store(&job);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const bool copied = job.ProcCopy();
    runningJob.store(nullptr);
    setMessenger(nullptr);
    return copied ? 0 : 1;
}
