#include "RecordingMessenger.h"

namespace velmar::test {

RecordingMessenger::RecordingMessenger()
{
    setMessenger(this);
}

RecordingMessenger::~RecordingMessenger()
{
    if (&messenger() == this)
        setMessenger(nullptr);
}

Answer RecordingMessenger::show(const Message &message)
{
    QMutexLocker lock(&m_mutex);
    m_messages << message;
    if (message.buttons == Buttons::Ok)
        return Answer::Ok;
    if (m_answers.empty())
        return message.defaultButton;
    const Answer a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void RecordingMessenger::addLog(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    m_log << line;
}

void RecordingMessenger::clearLog()
{
    QMutexLocker lock(&m_mutex);
    m_log.clear();
    ++m_clears;
}

void RecordingMessenger::openUrl(const QString &url)
{
    QMutexLocker lock(&m_mutex);
    m_urls << url;
}

void RecordingMessenger::answer(std::initializer_list<Answer> answers)
{
    QMutexLocker lock(&m_mutex);
    m_answers.insert(m_answers.end(), answers.begin(), answers.end());
}

QList<Message> RecordingMessenger::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QStringList RecordingMessenger::messageTexts() const
{
    QMutexLocker lock(&m_mutex);
    QStringList texts;
    for (const Message &m : m_messages)
        texts << m.text;
    return texts;
}

QStringList RecordingMessenger::logEntries() const
{
    QMutexLocker lock(&m_mutex);
    return m_log;
}

QString RecordingMessenger::logText() const
{
    QMutexLocker lock(&m_mutex);
    QString text;
    for (const QString &line : m_log)
        text += line + QStringLiteral("\r\n");
    return text;
}

QStringList RecordingMessenger::openedUrls() const
{
    QMutexLocker lock(&m_mutex);
    return m_urls;
}

int RecordingMessenger::clearCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_clears;
}

void RecordingMessenger::reset()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
    m_log.clear();
    m_urls.clear();
    m_answers.clear();
    m_clears = 0;
}

}  // namespace velmar::test
