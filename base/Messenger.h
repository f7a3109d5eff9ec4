#pragma once

#include <QString>

namespace velmar {

// Everything that widget-free code wants to tell or ask the user goes through one Messenger:
// message boxes, Yes/No questions and log lines. The main window, the command-line front end
// and the tests each install their own.

enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct Message {
    QString text;
    QString title;  // empty: the program's title
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    Answer defaultButton = Answer::Ok;
};

class Messenger {
public:
    virtual ~Messenger() = default;

    // Shows a message box and waits for the answer (Ok for an OK-only box).
    virtual Answer show(const Message &message) = 0;
    // Appends one log entry; the writer's text may span lines.
    virtual void addLog(const QString &line) = 0;
    // Empties the log and brings it into view: the start of a copy.
    virtual void clearLog() = 0;
    // Opens a web page in the user's browser.
    virtual void openUrl(const QString &url) = 0;
};

// The messenger in use. Until one is installed, a plain one writes to standard error and
// answers every question with its default button.
Messenger &messenger();
// Installs a messenger (not owned); nullptr restores the plain one.
void setMessenger(Messenger *m);
// The installed messenger, or nullptr while the plain one serves.
Messenger *installedMessenger();

// An OK-only message box without icon and with the program's title: the common case.
void msgBox(const QString &text, Icon icon = Icon::None, const QString &title = QString());
// A Yes/No question; true when the answer is Yes.
bool askYesNo(const QString &text, Answer defaultButton = Answer::Yes, Icon icon = Icon::None,
              const QString &title = QString());

// Remembers, while it lives, the text of the last OK-only box that msgBox showed on the thread that
// made it: a copy writes why it stopped into its log once the box is gone.
class LastMessage {
public:
    LastMessage();
    ~LastMessage();
    LastMessage(const LastMessage &) = delete;
    LastMessage &operator=(const LastMessage &) = delete;

    QString text() const { return m_text; }

private:
    friend void msgBox(const QString &, Icon, const QString &);
    QString m_text;
    LastMessage *m_outer;
};

}  // namespace velmar
