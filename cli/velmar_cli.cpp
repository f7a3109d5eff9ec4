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
#include <tuple>
#include <utility>

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

// velmar-cli's options, beside the parser's --help and --version.
struct Options {
    QCommandLineOption host{QStringLiteral("host"), QStringLiteral("Source server (name or name:port)."), QStringLiteral("host")};
    QCommandLineOption db{QStringLiteral("db"), QStringLiteral("Database name prefix, e.g. pelsar_."), QStringLiteral("prefix")};
    QCommandLineOption user{QStringLiteral("user"), QStringLiteral("Source user; completes the source database name."), QStringLiteral("user")};
    QCommandLineOption option{QStringLiteral("option"), QStringLiteral("Options for the dump program (default -q -e)."), QStringLiteral("options")};
    QCommandLineOption newDb{QStringLiteral("new-db"), QStringLiteral("Local database to create (default: the source name)."), QStringLiteral("name")};
    QCommandLineOption newUser{QStringLiteral("new-user"), QStringLiteral("User to be granted (default: the source user)."), QStringLiteral("name")};
    QCommandLineOption fk{QStringLiteral("fk"), QStringLiteral("Load the foreign-key script after the import.")};
    QCommandLineOption noFk{QStringLiteral("no-fk"), QStringLiteral("Do not load a foreign-key script.")};
    QCommandLineOption fkPath{QStringLiteral("fk-path"), QStringLiteral("Folder of the foreign-key scripts."), QStringLiteral("folder")};
    QCommandLineOption dropExisting{QStringLiteral("drop-existing"), QStringLiteral("Drop an existing local database of the new name without asking.")};
    QCommandLineOption askBeforeDrop{QStringLiteral("ask-before-drop"), QStringLiteral("Ask before dropping an existing local database.")};
    QCommandLineOption ordUser{QStringLiteral("ord-user"), QStringLiteral("Also grant the <user>_ord account.")};
    QCommandLineOption noOrdUser{QStringLiteral("no-ord-user"), QStringLiteral("Do not grant the _ord account.")};
    QCommandLineOption stages{QStringLiteral("stages"), QStringLiteral("Stages to run: 1 dump, 2 import, 3 grants (default 1,2,3)."), QStringLiteral("list"), QStringLiteral("1,2,3")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("Answer Yes to every question.")};
    QCommandLineOption endSessions{QStringLiteral("end-sessions"), QStringLiteral("End (KILL) other connections that use the local database when it is to be dropped, instead of asking to wait for them.")};
    QCommandLineOption workFolder{QStringLiteral("work-folder"), QStringLiteral("Folder whose dump/ subfolder holds the dump files (default: the program's folder)."), QStringLiteral("folder")};
    QCommandLineOption definers{QStringLiteral("definers"), QStringLiteral("Definers of views, triggers and routines that the local server lacks: rewrite (to the granted account, the default) or create (as locked local accounts with the copy's rights)."), QStringLiteral("rewrite|create")};
    QCommandLineOption changedOnly{QStringLiteral("changed-only"), QStringLiteral("Refresh an existing local database: copy only the tables that differ from the source (and make views, triggers and routines again).")};
    QCommandLineOption full{QStringLiteral("full"), QStringLiteral("Copy every table, even when changed tables only is remembered.")};
    QCommandLineOption importConnections{QStringLiteral("import-connections"), QStringLiteral("Connections that load the dump into the local server (default: chosen for this machine)."), QStringLiteral("n")};

    QList<QCommandLineOption> valued() const
    {
        return {host, db, user, option, newDb, newUser, fkPath, stages, workFolder, importConnections, definers};
    }
    QList<QCommandLineOption> all() const
    {
        return {host, db, user, option, newDb, newUser, fk, noFk, fkPath, dropExisting, askBeforeDrop,
                ordUser, noOrdUser, stages, yes, endSessions, workFolder, importConnections, definers,
                changedOnly, full};
    }
};

// "--new-db --no-fk" forgot the name: the option is not taken for one. The dump's own options may
// start with "--", but not be one of ours.
void refuseValuesLikeOptions(const QCommandLineParser &parser, const Options &o,
                             const QList<QCommandLineOption> &parserOwn)
{
    const QStringList ours = spellings(o.all() + parserOwn);
    for (const QCommandLineOption &valued : o.valued()) {
        for (const QString &value : parser.values(valued)) {
            const bool dumpOptions = valued.names() == o.option.names();
            if (ours.contains(value) || (!dumpOptions && value.startsWith(QStringLiteral("--"))))
                refuseUsage(QStringLiteral("--") + valued.names().first() + QStringLiteral("의 값이 옵션처럼 보입니다: ")
                            + value);
        }
    }
}

void refuseConflicts(const QCommandLineParser &parser, const Options &o)
{
    const std::pair<const QCommandLineOption *, const QCommandLineOption *> pairs[] = {
        {&o.fk, &o.noFk}, {&o.dropExisting, &o.askBeforeDrop}, {&o.ordUser, &o.noOrdUser}, {&o.changedOnly, &o.full}};
    for (const auto &[a, b] : pairs) {
        if (parser.isSet(*a) && parser.isSet(*b))
            refuseUsage(QStringLiteral("함께 쓸 수 없는 옵션입니다: --%1, --%2").arg(a->names().first(), b->names().first()));
    }
}

// Which of the stages 1, 2, 3 the list names.
void readStages(const QString &list, CopyRequest &request)
{
    request.stage[0] = request.stage[1] = request.stage[2] = false;
    const QString stageList = list.trimmed();
    if (stageList.isEmpty())
        return;
    for (const QString &s : stageList.split(u',')) {
        const QString t = s.trimmed();
        if (t == u"1" || t == u"2" || t == u"3")
            request.stage[t.toInt() - 1] = true;
        else
            refuseUsage(QStringLiteral("--stages는 쉼표로 구분한 1, 2, 3입니다: ") + stageList);
    }
}

// The remembered fields with the options on top.
CopyRequest requestFrom(const QCommandLineParser &parser, const Options &o)
{
    CopyRequest request = rememberedRequest();
    const std::pair<const QCommandLineOption *, QString *> texts[] = {
        {&o.host, &request.host},       {&o.db, &request.dbPrefix},         {&o.user, &request.user},
        {&o.option, &request.dumpOption}, {&o.newDb, &request.newDB},       {&o.newUser, &request.newUser},
        {&o.fkPath, &request.foreignPath}, {&o.workFolder, &request.programFolder}};
    for (const auto &[option, field] : texts) {
        if (parser.isSet(*option))
            *field = parser.value(*option);
    }
    const std::tuple<const QCommandLineOption *, bool *, bool> switches[] = {
        {&o.fk, &request.foreign, true},           {&o.noFk, &request.foreign, false},
        {&o.dropExisting, &request.existDBDel, true}, {&o.askBeforeDrop, &request.existDBDel, false},
        {&o.ordUser, &request.onOrdUser, true},    {&o.noOrdUser, &request.onOrdUser, false},
        {&o.changedOnly, &request.changedOnly, true}, {&o.full, &request.changedOnly, false}};
    for (const auto &[option, field, value] : switches) {
        if (parser.isSet(*option))
            *field = value;
    }
    if (parser.isSet(o.importConnections)) {
        bool number = false;
        request.importConnections = parser.value(o.importConnections).toInt(&number);
        if (!number || request.importConnections < 1 || request.importConnections > 16)
            refuseUsage(QStringLiteral("--import-connections는 1부터 16까지의 수입니다: ")
                        + parser.value(o.importConnections));
    }
    if (parser.isSet(o.definers)) {
        const QString how = parser.value(o.definers).trimmed();
        if (how == u"rewrite")
            request.definers = CopyRequest::Definers::Rewrite;
        else if (how == u"create")
            request.definers = CopyRequest::Definers::CreateLocked;
        else
            refuseUsage(QStringLiteral("--definers는 rewrite 또는 create입니다: ") + parser.value(o.definers));
    }
    // Ending other connections is never an answer of --yes: only this option says it.
    request.otherSessions = parser.isSet(o.endSessions) ? CopyRequest::OtherSessions::End
                                                        : CopyRequest::OtherSessions::AskWait;
    readStages(parser.value(o.stages), request);
    return request;
}

// The copy on this thread, its questions answered Yes with yes; the exit status.
int runCopy(const CopyRequest &request, bool yes)
{
    CliMessenger cli(yes);
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
    CliInterrupt::endBySignal();
    return copied ? 0 : 1;
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
    const Options options;
    parser.addOptions(options.all());
    // Parsed here rather than by process(): a usage error is a refused request (exit 2).
    if (!parser.parse(QCoreApplication::arguments()))
        refuseUsage(usageError(parser));
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        refuseUsage(QStringLiteral("알 수 없는 인수입니다: ") + parser.positionalArguments().join(u' '));
    refuseValuesLikeOptions(parser, options, {helpOption, versionOption});
    refuseConflicts(parser, options);
    return runCopy(requestFrom(parser, options), parser.isSet(options.yes));
}
