// velmar-cli: runs the same copy as the window's copy button, from the remembered fields of the
// window overridden by options. It reads the settings store but never writes it.
//
// Exit status: 0 after "복사완료", 1 when the job stopped, 2 when the request was refused
// (a usage error included).

#include "CliInterrupt.h"
#include "CliMessenger.h"
#include "CliProgress.h"
#include "CopyJob.h"
#include "ProcessSetup.h"
#include "ProgramInfo.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

using namespace velmar;

namespace {

[[noreturn]] void refuseUsage(const QString &error)
{
    std::fprintf(stderr, "%s\nvelmar-cli --help로 사용법을 볼 수 있습니다.\n", error.toUtf8().constData());
    std::exit(2);
}

// The parser's own errors, in the program's language.
QString usageError(const QCommandLineParser &parser)
{
    QStringList unknown;
    for (const QString &name : parser.unknownOptionNames())
        unknown << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    if (!unknown.isEmpty())
        return QStringLiteral("알 수 없는 옵션입니다: ") + unknown.join(QStringLiteral(", "));
    const QString text = parser.errorText();
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    if (const QRegularExpressionMatch m = missing.match(text); m.hasMatch())
        return m.captured(1) + QStringLiteral(" 뒤에 값이 없습니다.");
    if (const QRegularExpressionMatch m = unexpected.match(text); m.hasMatch())
        return QStringLiteral("값을 받지 않는 옵션입니다: ") + m.captured(1);
    return text;
}

// How each option can be written on the command line: -h, --help, ...
QStringList spellings(const QList<QCommandLineOption> &options)
{
    QStringList all;
    for (const QCommandLineOption &o : options) {
        for (const QString &name : o.names())
            all << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    }
    return all;
}

}  // namespace

int main(int argc, char **argv)
{
    prepareProcess();
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
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
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
    const QCommandLineOption importConnections(QStringLiteral("import-connections"), QStringLiteral("Connections that load the dump into the local server (default: chosen for this machine)."), QStringLiteral("n"));
    const QList<QCommandLineOption> valued{host, db, user, option, newDb, newUser, fkPath, stages, workFolder,
                                           importConnections};
    parser.addOptions({host, db, user, option, newDb, newUser, fk, noFk, fkPath, dropExisting, askBeforeDrop,
                       ordUser, noOrdUser, stages, yes, workFolder, importConnections});
    // Parsed here rather than by process(): a usage error is a refused request (exit 2).
    if (!parser.parse(QCoreApplication::arguments()))
        refuseUsage(usageError(parser));
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        refuseUsage(QStringLiteral("알 수 없는 인수입니다: ") + parser.positionalArguments().join(u' '));
    // "--new-db --no-fk" forgot the name: the option is not taken for one. The dump's own
    // options may start with "--", but not be one of ours.
    const QStringList ours = spellings(valued + QList<QCommandLineOption>{fk, noFk, dropExisting, askBeforeDrop,
                                                                          ordUser, noOrdUser, yes, helpOption,
                                                                          versionOption});
    for (const QCommandLineOption &o : valued) {
        for (const QString &value : parser.values(o)) {
            const bool dumpOptions = o.names() == option.names();
            if (ours.contains(value) || (!dumpOptions && value.startsWith(QStringLiteral("--"))))
                refuseUsage(QStringLiteral("--") + o.names().first() + QStringLiteral("의 값이 옵션처럼 보입니다: ")
                            + value);
        }
    }

    auto conflict = [&](const QCommandLineOption &a, const QCommandLineOption &b) {
        if (parser.isSet(a) && parser.isSet(b))
            refuseUsage(QStringLiteral("함께 쓸 수 없는 옵션입니다: --%1, --%2").arg(a.names().first(), b.names().first()));
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
    if (parser.isSet(importConnections)) {
        bool number = false;
        request.importConnections = parser.value(importConnections).toInt(&number);
        if (!number || request.importConnections < 1 || request.importConnections > 16)
            refuseUsage(QStringLiteral("--import-connections는 1부터 16까지의 수입니다: ") + parser.value(importConnections));
    }

    request.stage[0] = request.stage[1] = request.stage[2] = false;
    const QString stageList = parser.value(stages).trimmed();
    if (!stageList.isEmpty()) {
        for (const QString &s : stageList.split(u',')) {
            const QString t = s.trimmed();
            if (t == u"1" || t == u"2" || t == u"3") {
                request.stage[t.toInt() - 1] = true;
            } else {
                refuseUsage(QStringLiteral("--stages는 쉼표로 구분한 1, 2, 3입니다: ") + stageList);
            }
        }
    }

    CliMessenger cli(parser.isSet(yes));
    CliProgress progress(stderr, streamIsTerminal(stderr));
    ProgressAwareMessenger shown(cli, progress);
    setMessenger(&shown);

    if (!ValidateCopyRequest(request).passed)
        return 2;

    CopyJob job(request);
    // The job runs on this thread: its signals arrive directly, in order with its log lines.
    QObject::connect(&job, &CopyJob::stageStarted, &job, [&](CopyStage stage) { progress.stageStarted(stage); });
    QObject::connect(&job, &CopyJob::progress, &job,
                     [&](CopyStage stage, qint64 done, qint64 total, double rate) {
                         progress.progress(stage, done, total, rate);
                     });
    bool copied = false;
    {
        const CliInterrupt interrupt([&job] { job.cancel(); }, &progress);
        copied = job.ProcCopy();
    }
    progress.clear();
    setMessenger(nullptr);
    return copied ? 0 : 1;
}
