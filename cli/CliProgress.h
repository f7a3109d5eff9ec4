#pragma once

#include "CopyJob.h"
#include "Messenger.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cstdio>

namespace velmar {

// velmar-cli's progress on a terminal: the stage, the bytes and the rate on one line that is
// rewritten in place ("\r"). On anything but a terminal it writes nothing at all, so that logs
// and scripts see exactly what they saw before.
class CliProgress {
public:
    CliProgress(FILE *out, bool terminal);

    void stageStarted(CopyStage stage);
    void progress(CopyStage stage, qint64 done, qint64 total, double bytesPerSecond);
    // Takes the line away (before any other output, and at the end).
    void clear();
    // Whether a line is up now; read by the interrupt handler.
    bool lineShown() const { return m_width.load() > 0; }

private:
    FILE *m_out;
    bool m_terminal;
    std::atomic_int m_width {0};  // columns of the line on screen, 0 when there is none
    QString m_lastText;
    QElapsedTimer m_lastWrite;
};

// Hands every message and log entry to another messenger after taking the progress line away,
// so that no text is written over it.
class ProgressAwareMessenger : public Messenger {
public:
    ProgressAwareMessenger(Messenger &inner, CliProgress &progress);

    Answer show(const Message &message) override;
    void addLog(const QString &line) override;
    void clearLog() override;
    void openUrl(const QString &url) override;

private:
    Messenger &m_inner;
    CliProgress &m_progress;
};

// True when the stream is a terminal (a console on Windows).
bool streamIsTerminal(FILE *stream);

}  // namespace velmar
