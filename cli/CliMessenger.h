#pragma once

#include "Messenger.h"

#include <QString>

#include <cstdio>

namespace velmar {

// The command line's messenger: log entries go to standard output as the log window shows them,
// messages to standard error; questions are asked on the terminal, answered Yes by --yes, and
// answered No (and said so) when there is no terminal to ask.
class CliMessenger : public Messenger {
public:
    CliMessenger(bool answerYes, FILE *in = stdin, FILE *out = stdout, FILE *err = stderr);

    Answer show(const Message &message) override;
    void addLog(const QString &line) override;
    void clearLog() override;
    void openUrl(const QString &url) override;

private:
    bool m_answerYes;
    FILE *m_in;
    FILE *m_out;
    FILE *m_err;
};

// True when standard input is a terminal a question can be asked on.
bool stdinIsTerminal();

// Writes text to one of velmar-cli's streams: to a console as Unicode, to files and pipes as
// UTF-8 with the platform's line ends (CR LF on Windows; "\r\n" and "\n" in text both count as one).
void writeText(FILE *stream, const QString &text);

}  // namespace velmar
