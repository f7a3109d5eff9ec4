#include "Messenger.h"

#include <atomic>
#include <cstdio>

namespace velmar {

namespace {

class PlainMessenger final : public Messenger {
public:
    Answer show(const Message &message) override
    {
        std::fprintf(stderr, "%s\n", message.text.toUtf8().constData());
        return message.buttons == Buttons::Ok ? Answer::Ok : message.defaultButton;
    }
    void addLog(const QString &line) override
    {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    }
    void clearLog() override {}
    void openUrl(const QString &url) override
    {
        std::fprintf(stderr, "%s\n", url.toUtf8().constData());
    }
};

PlainMessenger plainMessenger;
std::atomic<Messenger *> current{nullptr};
thread_local LastMessage *lastMessage = nullptr;

}  // namespace

Messenger &messenger()
{
    Messenger *m = current.load();
    return m ? *m : plainMessenger;
}

void setMessenger(Messenger *m)
{
    current.store(m);
}

Messenger *installedMessenger()
{
    return current.load();
}

LastMessage::LastMessage() : m_outer(lastMessage)
{
    lastMessage = this;
}

LastMessage::~LastMessage()
{
    lastMessage = m_outer;
}

void msgBox(const QString &text, Icon icon, const QString &title)
{
    if (lastMessage)
        lastMessage->m_text = text;
    messenger().show(Message{text, title, icon, Buttons::Ok, Answer::Ok});
}

bool askYesNo(const QString &text, Answer defaultButton, Icon icon, const QString &title)
{
    return messenger().show(Message{text, title, icon, Buttons::YesNo, defaultButton}) == Answer::Yes;
}

}  // namespace velmar
