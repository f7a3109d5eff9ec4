#include "DumpStage.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "DumpFolder.h"
#include "Messenger.h"
#include "RaisedError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

namespace velmar {

namespace {

// How long the dump may take to write its first byte (connect and first answers of the source).
constexpr int kDumpFirstOutputMs = 60'000;

bool appendFile(const QString &from, const QString &to)
{
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::Append))
        return false;
    QByteArray block;
    while (!(block = in.read(1 << 20)).isEmpty()) {
        if (out.write(block) != block.size())
            return false;
    }
    return in.error() == QFileDevice::NoError;
}

}  // namespace

bool DumpStage::run()
{
    const auto here = [this](const QString &program, const QStringList &arguments, RunOptions options) {
        options.cancel = &m_ctx.cancel;
        QElapsedTimer t;
        t.start();
        options.progress = [&](qint64 written, qint64) { m_ctx.report(CopyStage::Dump, written, -1, t); };
        return RunAndWait(program, arguments, m_ctx.request.programFolder, true, false, options);
    };
    return run(here, [] {});
}

bool DumpStage::run(const Runner &runner, const std::function<void()> &stopped)
{
    const QString target = m_ctx.dumpFilePath();
    const QString partial = target + QStringLiteral(".part");
    return guarded(QStringLiteral("SETP_DBDump"), kModMain, [&] {
        const QString folder = m_ctx.dumpFolder();
        if (!QFileInfo(folder).isDir()) {
            if (!QDir().mkpath(folder))
                throw fileError(err::PathNotFound, folder);
            messenger().addLog(QStringLiteral("dump 폴더 생성: ") + folder);
        }

        const CopyRequest &r = m_ctx.request;
        const QString host = r.host.trimmed();
        // The compression a measured link asked for follows the user's own options.
        const QString dumpOptions = r.dumpOption + (m_ctx.source.compress ? QStringLiteral(" -C") : QString());
        const QString db = m_ctx.SourceDBName();
        // A refresh dumps the changed tables (their triggers come with everyone else's below),
        // the views, routines and events; the unchanged tables are left out through the option
        // file, since there may be more of them than a command line holds.
        QStringList partialOptions, leftOut;
        if (m_ctx.changes) {
            partialOptions << QStringLiteral("--skip-triggers");
            for (const QString &table : std::as_const(m_ctx.changes->unchanged))
                leftOut << QStringLiteral("ignore-table=") + db + u'.' + table;
        }
        // The familiar command line, password masked, for one run of the dump program.
        const auto logCommand = [&](const QStringList &extra, const QString &redirect) {
            messenger().addLog(maskSecret(dumpProgramName() + u' ' + dumpOptions
                                              + (extra.isEmpty() ? QString() : u' ' + extra.join(u' ')) + u' '
                                              + shownWord(db) + QStringLiteral(" -h") + host
                                              + QStringLiteral(" -uroot -p") + kRootPassword + u' ' + redirect
                                              + u' ' + target,
                                          kRootPassword));
        };
        QStringList shownLeftOut = leftOut;
        logCommand(partialOptions + shownLeftOut.replaceInStrings(QRegularExpression(QStringLiteral("^")),
                                                                  QStringLiteral("--")),
                   QStringLiteral(">"));

        // Runs the dump program once into file; false when cancelled, a failure raised.
        const auto dumpInto = [&](const QStringList &extra, const QStringList &optionFile, const QString &file) {
            PasswordFile password(kRootPassword, optionFile);
            // The name comes after "--", so a name that starts with "-" is never read as an option.
            const QStringList arguments = QStringList{password.argument()} + splitShellWords(dumpOptions) + extra
                                          + hostArguments(host)
                                          + QStringList{QStringLiteral("-u") + kRootUser, QStringLiteral("--"), db};
            {
                // Made here, for its owner only; the runner then writes into it.
                QFile made(file);
                if (made.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    restrictToOwner(made);
            }
            RunOptions options;
            options.stdoutFile = file;
            // This dump program has no connect timeout: its first output (the dump's header) comes
            // once it has reached the server, so a source that never answers stops it here.
            options.firstOutputTimeoutMs = kDumpFirstOutputMs;
            RunResult run;
            try {
                run = runner(findProgram(dumpProgramName(), r.programFolder), arguments, options);
            } catch (...) {
                stopped();
                removeFile(file);
                throw;
            }
            if (run.cancelled || !run.succeeded()) {
                stopped();
                removeFile(file);
            }
            if (run.cancelled)
                return false;
            if (!run.succeeded())
                throw programError(dumpProgramName(), run);
            return true;
        };
        if (!dumpInto(partialOptions, leftOut, partial))
            return false;
        if (m_ctx.changes && m_ctx.changes->triggers && optionsDumpTriggers(r.dumpOption)) {
            // The triggers of every table, the unchanged ones' too: all objects are made again
            // (unless the user's options leave triggers out, as a full copy would).
            const QString triggers = partial + QStringLiteral("2");
            const auto removeTriggers = qScopeGuard([&] { removeFile(triggers); });
            const QStringList onlyTriggers{QStringLiteral("--no-data"), QStringLiteral("--no-create-info"),
                                           QStringLiteral("--skip-routines"), QStringLiteral("--skip-events"),
                                           QStringLiteral("--triggers")};
            logCommand(onlyTriggers, QStringLiteral(">>"));
            if (!dumpInto(onlyTriggers, {}, triggers)) {
                removeFile(partial);
                return false;
            }
            if (!appendFile(triggers, partial)) {
                removeFile(partial);
                throw fileError(err::PathFileAccess, partial);
            }
        }
        // Replaces an earlier dump in one step: it stays whole until this one is in place.
        QString renameError;
        if (!replaceFile(partial, target, &renameError)) {
            removeFile(partial);
            throw fileError(err::PathFileAccess, target, renameError);
        }
        return true;
    }).value_or(false);
}

}  // namespace velmar
