#include "CliMessenger.h"

#include <QString>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace velmar {

namespace {

// A stream that is a console or terminal (Windows: the NUL device passes _isatty, but only a
// console has a console mode).
bool isConsole(FILE *stream)
{
#ifdef Q_OS_WIN
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace

bool stdinIsTerminal()
{
    return isConsole(stdin);
}

void writeText(FILE *stream, const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#ifdef Q_OS_WIN
    t.replace(u'\n', QStringLiteral("\r\n"));
    if (isConsole(stream)) {
        // A console shows Unicode whatever its code page (949 would garble UTF-8).
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))),
                      reinterpret_cast<const wchar_t *>(t.utf16()), DWORD(t.size()), &written, nullptr);
        return;
    }
    // The line ends are already there: a text-mode stream would double their CR.
    _setmode(_fileno(stream), _O_BINARY);
#endif
    const QByteArray bytes = t.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

CliMessenger::CliMessenger(bool answerYes, FILE *in, FILE *out, FILE *err)
    : m_answerYes(answerYes), m_in(in), m_out(out), m_err(err)
{
}

Answer CliMessenger::show(const Message &message)
{
    std::fflush(m_out);
    writeText(m_err, message.text + u'\n');
    if (message.buttons == Buttons::Ok) {
        std::fflush(m_err);
        return Answer::Ok;
    }
    if (m_answerYes) {
        writeText(m_err, QStringLiteral("-> 예 (--yes)\n"));
        std::fflush(m_err);
        return Answer::Yes;
    }
    if (m_in != stdin || !stdinIsTerminal()) {
        writeText(m_err, QStringLiteral("-> 아니요 (물어볼 터미널이 없습니다; --yes로 답할 수 있습니다)\n"));
        std::fflush(m_err);
        return Answer::No;
    }
    const bool yesDefault = message.defaultButton == Answer::Yes;
    for (;;) {
        writeText(m_err, yesDefault ? QStringLiteral("예/아니요 [Y/n]: ") : QStringLiteral("예/아니요 [y/N]: "));
        std::fflush(m_err);
        char buffer[64];
        if (!std::fgets(buffer, sizeof buffer, m_in)) {
            writeText(m_err, QStringLiteral("\n-> 아니요\n"));
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
    writeText(m_out, line + u'\n');
    std::fflush(m_out);
}

void CliMessenger::clearLog() {}

void CliMessenger::openUrl(const QString &url)
{
    writeText(m_err, url + u'\n');
}

}  // namespace velmar
