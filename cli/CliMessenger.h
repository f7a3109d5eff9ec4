#pragma once

#include "Messenger.h"

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

}  // namespace velmar
