#pragma once

#include "Messenger.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <deque>

namespace velmar::test {

// The tests' messenger: records every message box, log entry and opened address, and answers
// questions from a script (then with the default button once the script is used up).
class RecordingMessenger : public Messenger {
public:
    RecordingMessenger();
    ~RecordingMessenger() override;  // uninstalls itself

    Answer show(const Message &message) override;
    void addLog(const QString &line) override;
    void clearLog() override;
    void openUrl(const QString &url) override;

    // Answers for the next questions, in order.
    void answer(std::initializer_list<Answer> answers);

    QList<Message> messages() const;
    QStringList messageTexts() const;
    QStringList logEntries() const;  // since the last clearLog
    QString logText() const;         // entries each followed by CR LF, as the log window shows them
    QStringList openedUrls() const;
    int clearCount() const;
    void reset();

private:
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    QStringList m_log;
    QStringList m_urls;
    std::deque<Answer> m_answers;
    int m_clears = 0;
};

}  // namespace velmar::test
