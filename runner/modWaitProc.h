#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace velmar {

// What the caller may add to a run of an external program.
struct RunOptions {
    // Standard output written to this file (created or emptied first), when set; a file that
    // cannot be written fails the start.
    QString stdoutFile;
    // Standard input read from this file, when set; a missing file fails the start.
    QString stdinFile;
    // Environment of the program; empty: the caller's own.
    QProcessEnvironment environment;
    // Set from another thread to stop the program at once.
    const std::atomic_bool *cancel = nullptr;
    // Called now and then while the program runs, with the bytes written to stdoutFile so far
    // and the bytes of stdinFile fed so far.
    std::function<void(qint64 written, qint64 fed)> progress;
    // When above 0: the program is stopped when it has written nothing to stdoutFile this many
    // milliseconds after its start (a dump that never reaches its server).
    int firstOutputTimeoutMs = 0;
};

struct RunResult {
    bool started = false;     // the program could be started
    bool crashed = false;     // it ended abnormally (signal, crash, killed)
    bool cancelled = false;   // stopped through RunOptions::cancel
    bool inputUnreadable = false;  // the standard-input file could not be opened
    bool outputUnwritable = false; // the standard-output file could not be written
    bool timedOut = false;    // stopped after firstOutputTimeoutMs without output
    int exitCode = -1;
    QByteArray errorOutput;   // what it wrote to standard error (its last 64 KiB)
    QString startError;       // why it could not be started ("<file> (<reason>)" for a file)

    bool succeeded() const { return started && !crashed && !cancelled && !timedOut && exitCode == 0; }
};

// Starts a program with an argument list (no command interpreter: no value can split or inject)
// in the given working folder and waits, without a time limit, until it has ended. hidden starts
// it without a window, minimized minimised and not activated (where the platform has windows);
// hidden wins when both are set.
RunResult RunAndWait(const QString &file, const QStringList &arguments, const QString &directory,
                     bool hidden, bool minimized, const RunOptions &options = {});

// Starts a program without waiting for it (a minimised window when minimized is set).
bool StartDetached(const QString &file, const QStringList &arguments, const QString &directory,
                   bool minimized);

// One word as a user would type it on a command line: in double quotes when it is empty or
// holds a blank or a quote (a double quote inside written \").
QString shownWord(const QString &word);

// The command-line shape shown in the log: the words joined by blanks, each one as shownWord.
QString commandLineText(const QString &program, const QStringList &arguments);

// Splits an options text into words the way a POSIX shell splits words: blanks separate,
// single quotes keep everything, double quotes keep everything but \" \\ \$ \`, a backslash
// outside quotes keeps the next character. Nothing is expanded. closed, when given, tells whether
// every quote was closed (an open one runs to the end of the text).
QStringList splitShellWords(const QString &text, bool *closed = nullptr);

// Replaces every occurrence of secret (exact, case-sensitive) by "****".
QString maskSecret(const QString &text, const QString &secret);

}  // namespace velmar
