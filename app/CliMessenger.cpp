#include "CliMessenger.h"

#include <QString>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace velmar {

namespace {

QByteArray forTerminal(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t.toUtf8();
}

}  // namespace

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    // The NUL device passes _isatty; only a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))), &mode) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

CliMessenger::CliMessenger(bool answerYes, FILE *in, FILE *out, FILE *err)
    : m_answerYes(answerYes), m_in(in), m_out(out), m_err(err)
{
}

Answer CliMessenger::show(const Message &message)
{
    std::fflush(m_out);
    std::fprintf(m_err, "%s\n", forTerminal(message.text).constData());
    if (message.buttons == Buttons::Ok) {
        std::fflush(m_err);
        return Answer::Ok;
    }
    if (m_answerYes) {
        std::fprintf(m_err, "-> 예 (--yes)\n");
        std::fflush(m_err);
        return Answer::Yes;
    }
    if (m_in != stdin || !stdinIsTerminal()) {
        std::fprintf(m_err, "-> 아니오 (물어볼 터미널이 없습니다; --yes로 답할 수 있습니다)\n");
        std::fflush(m_err);
        return Answer::No;
    }
    const bool yesDefault = message.defaultButton == Answer::Yes;
    for (;;) {
        std::fprintf(m_err, yesDefault ? "예/아니오 [Y/n]: " : "예/아니오 [y/N]: ");
        std::fflush(m_err);
        char buffer[64];
        if (!std::fgets(buffer, sizeof buffer, m_in)) {
            std::fprintf(m_err, "\n-> 아니오\n");
            return Answer::No;
        }
        const QString answer = QString::fromLocal8Bit(buffer).trimmed().toLower();
        if (answer.isEmpty())
            return yesDefault ? Answer::Yes : Answer::No;
        if (answer == u"y" || answer == u"yes" || answer == u"예" || answer == u"네")
            return Answer::Yes;
        if (answer == u"n" || answer == u"no" || answer == u"아니오" || answer == u"아니요")
            return Answer::No;
    }
}

void CliMessenger::addLog(const QString &line)
{
    std::fprintf(m_out, "%s\n", forTerminal(line).constData());
    std::fflush(m_out);
}

void CliMessenger::clearLog() {}

void CliMessenger::openUrl(const QString &url)
{
    std::fprintf(m_err, "%s\n", forTerminal(url).constData());
}

}  // namespace velmar
