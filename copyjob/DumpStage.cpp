#include "DumpStage.h"

#include "Attempt.h"
#include "ClientPrograms.h"
#include "DumpFolder.h"
#include "Messenger.h"
#include "RaisedError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmar {

namespace {

// How long the dump may take to write its first byte (connect and first answers of the source).
constexpr int kDumpFirstOutputMs = 60'000;

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
        const QString shown = dumpProgramName() + u' ' + dumpOptions + u' ' + shownWord(m_ctx.SourceDBName())
                              + QStringLiteral(" -h") + host + QStringLiteral(" -uroot -p") + kRootPassword
                              + QStringLiteral(" > ") + target;
        messenger().addLog(maskSecret(shown, kRootPassword));

        PasswordFile password(kRootPassword);
        // The name comes after "--", so a name that starts with "-" is never read as an option.
        const QStringList arguments = QStringList{password.argument()} + splitShellWords(dumpOptions)
                                      + hostArguments(host)
                                      + QStringList{QStringLiteral("-u") + kRootUser, QStringLiteral("--"),
                                                    m_ctx.SourceDBName()};
        {
            // Made here, for its owner only; the runner then writes into it.
            QFile made(partial);
            if (made.open(QIODevice::WriteOnly | QIODevice::Truncate))
                restrictToOwner(made);
        }
        RunOptions options;
        options.stdoutFile = partial;
        // This dump program has no connect timeout: its first output (the dump's header) comes
        // once it has reached the server, so a source that never answers stops it here.
        options.firstOutputTimeoutMs = kDumpFirstOutputMs;
        RunResult run;
        try {
            run = runner(findProgram(dumpProgramName(), r.programFolder), arguments, options);
        } catch (...) {
            stopped();
            removeFile(partial);
            throw;
        }
        if (run.cancelled || !run.succeeded()) {
            stopped();
            removeFile(partial);
        }
        if (run.cancelled)
            return false;
        if (!run.succeeded())
            throw programError(dumpProgramName(), run);
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
