#include "modWaitProc.h"

#include "RunningPrograms.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmar {

namespace {

constexpr qint64 kErrorTail = 64 * 1024;
constexpr qint64 kFeedBlock = 1 << 20;
constexpr int kPollMs = 100;

// The only platform-specific piece: how the started program's window is shown. A waited-for
// program starts minimised without taking the focus; a detached one (the file changer) with it.
void applyShowMode(QProcess &process, bool hidden, bool minimized, bool activate = false)
{
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier(
        [hidden, minimized, activate](QProcess::CreateProcessArguments *args) {
            args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
            if (hidden) {
                args->startupInfo->wShowWindow = SW_HIDE;
                args->flags |= CREATE_NO_WINDOW;
            } else if (minimized) {
                args->startupInfo->wShowWindow = activate ? SW_SHOWMINIMIZED : SW_SHOWMINNOACTIVE;
            } else {
                args->startupInfo->wShowWindow = SW_SHOW;
            }
        });
#else
    Q_UNUSED(process);
    Q_UNUSED(hidden);
    Q_UNUSED(minimized);
    Q_UNUSED(activate);
#endif
}

void keepTail(QByteArray &buffer, const QByteArray &more)
{
    buffer += more;
    if (buffer.size() > kErrorTail)
        buffer = buffer.right(kErrorTail);
}

}  // namespace

namespace {

// Opens the program's input file and names its output file; false (result says why) when either
// cannot be used.
bool redirect(QProcess &process, QFile &input, const RunOptions &options, RunResult &result)
{
    if (!options.stdinFile.isEmpty()) {
        input.setFileName(options.stdinFile);
        if (!input.open(QIODevice::ReadOnly)) {
            result.inputUnreadable = true;
            result.startError = options.stdinFile + QStringLiteral(" (") + input.errorString() + u')';
            return false;
        }
    }
    if (options.stdoutFile.isEmpty()) {
        process.setStandardOutputFile(QProcess::nullDevice());
        return true;
    }
    // Opened here first: QProcess reports a file it cannot open as a program that failed to start,
    // which reads like a missing program.
    QFile output(options.stdoutFile);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.outputUnwritable = true;
        result.startError = options.stdoutFile + QStringLiteral(" (") + output.errorString() + u')';
        return false;
    }
    process.setStandardOutputFile(options.stdoutFile, QIODevice::Truncate);
    return true;
}

// Feeds the input, watches for cancel and the first output and reports progress until the
// started program has ended.
void waitForEnd(QProcess &process, QFile &input, const RunOptions &options, RunResult &result)
{
    qint64 fed = 0;
    auto report = [&] {
        if (options.progress) {
            const qint64 written = options.stdoutFile.isEmpty() ? 0 : QFileInfo(options.stdoutFile).size();
            options.progress(written, fed);
        }
    };
    auto stop = [&](bool &why) {
        process.kill();
        process.waitForFinished(-1);
        why = true;
    };

    bool inputDone = !input.isOpen();
    QElapsedTimer sinceStart;
    sinceStart.start();
    bool awaitingOutput = options.firstOutputTimeoutMs > 0 && !options.stdoutFile.isEmpty();
    while (process.state() != QProcess::NotRunning) {
        if (options.cancel && options.cancel->load()) {
            stop(result.cancelled);
            break;
        }
        if (awaitingOutput) {
            awaitingOutput = QFileInfo(options.stdoutFile).size() == 0;
            // What waits for the first output (the import that follows a dump) starts at once.
            if (!awaitingOutput)
                report();
            else if (sinceStart.elapsed() > options.firstOutputTimeoutMs) {
                stop(result.timedOut);
                break;
            }
        }
        if (!inputDone && process.bytesToWrite() < kFeedBlock) {
            const QByteArray block = input.read(kFeedBlock);
            if (block.isEmpty()) {
                process.closeWriteChannel();
                inputDone = true;
            } else {
                process.write(block);
                fed += block.size();
            }
        }
        if (!inputDone && process.bytesToWrite() > 0)
            process.waitForBytesWritten(kPollMs);
        else
            process.waitForFinished(awaitingOutput ? kPollMs / 10 : kPollMs);
        keepTail(result.errorOutput, process.readAllStandardError());
        report();
    }
    keepTail(result.errorOutput, process.readAllStandardError());
    report();
}

}  // namespace

RunResult RunAndWait(const QString &file, const QStringList &arguments, const QString &directory,
                     bool hidden, bool minimized, const RunOptions &options)
{
    RunResult result;
    QProcess process;
    process.setProgram(file);
    process.setArguments(arguments);
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    if (!options.environment.isEmpty())
        process.setProcessEnvironment(options.environment);
    applyShowMode(process, hidden, minimized);

    QFile input;
    if (!redirect(process, input, options, result))
        return result;
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        result.startError = process.errorString();
        return result;
    }
    result.started = true;
    // Reachable from a signal handler until the program has ended, so that no exit leaves it behind.
    const RunningProgram registered(process.processId());
    if (!input.isOpen())
        process.closeWriteChannel();
    waitForEnd(process, input, options, result);
    // A terminal's Ctrl+C reaches the program and the caller together: the program may end
    // before the caller's cancel is seen, and that is still a cancel, not a crash.
    if (options.cancel && options.cancel->load())
        result.cancelled = true;

    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    return result;
}

bool StartDetached(const QString &file, const QStringList &arguments, const QString &directory,
                   bool minimized)
{
    QProcess process;
    process.setProgram(file);
    process.setArguments(arguments);
    process.setWorkingDirectory(directory);
    applyShowMode(process, false, minimized, true);
    return process.startDetached();
}

QString shownWord(const QString &word)
{
    if (!word.isEmpty() && !word.contains(u' ') && !word.contains(u'"') && !word.contains(u'\''))
        return word;
    QString quoted = word;
    quoted.replace(u'"', QStringLiteral("\\\""));
    return u'"' + quoted + u'"';
}

QString commandLineText(const QString &program, const QStringList &arguments)
{
    QStringList words;
    words.reserve(arguments.size() + 1);
    for (const QString &w : QStringList{program} + arguments)
        words << shownWord(w);
    return words.join(u' ');
}

QStringList splitShellWords(const QString &text, bool *closed)
{
    QStringList words;
    QString current;
    bool inWord = false;
    enum { Plain, Single, Double } mode = Plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (mode) {
        case Plain:
            if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
                if (inWord) {
                    words << current;
                    current.clear();
                    inWord = false;
                }
            } else if (c == u'\'') {
                mode = Single;
                inWord = true;
            } else if (c == u'"') {
                mode = Double;
                inWord = true;
            } else if (c == u'\\' && i + 1 < text.size()) {
                current += text.at(++i);
                inWord = true;
            } else {
                current += c;
                inWord = true;
            }
            break;
        case Single:
            if (c == u'\'')
                mode = Plain;
            else
                current += c;
            break;
        case Double:
            if (c == u'"') {
                mode = Plain;
            } else if (c == u'\\' && i + 1 < text.size()
                       && QStringView(u"\"\\$`").contains(text.at(i + 1))) {
                current += text.at(++i);
            } else {
                current += c;
            }
            break;
        }
    }
    if (inWord)
        words << current;
    if (closed)
        *closed = mode == Plain;
    return words;
}

QString maskSecret(const QString &text, const QString &secret)
{
    if (secret.isEmpty())
        return text;
    QString masked = text;
    masked.replace(secret, QStringLiteral("****"), Qt::CaseSensitive);
    return masked;
}

}  // namespace velmar
