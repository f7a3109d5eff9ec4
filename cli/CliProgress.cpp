#include "CliProgress.h"

#include "ProgressText.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace velmar {

namespace {

// A terminal is not rewritten more often than this; every change of stage shows at once.
constexpr qint64 kRewriteMs = 100;

// Columns the text takes on a terminal: Hangul and other East Asian wide characters take two.
int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF)
            || (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFF60)
            || (u >= 0xFFE0 && u <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

}  // namespace

bool streamIsTerminal(FILE *stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

CliProgress::CliProgress(FILE *out, bool terminal) : m_out(out), m_terminal(terminal)
{
}

void CliProgress::stageStarted(CopyStage)
{
    clear();
    m_lastText.clear();
    m_lastWrite.invalidate();
}

void CliProgress::progress(CopyStage stage, qint64 done, qint64 total, double bytesPerSecond)
{
    if (!m_terminal)
        return;
    if (m_lastWrite.isValid() && m_lastWrite.elapsed() < kRewriteMs)
        return;
    const QString text = progressText(stage, done, total, bytesPerSecond);
    if (text == m_lastText)
        return;
    const int width = displayWidth(text);
    // A shorter line blanks what is left of the longer one before it.
    const QString line = u'\r' + text + QString(qMax(0, m_width.load() - width), u' ');
    std::fputs(line.toUtf8().constData(), m_out);
    std::fflush(m_out);
    m_width.store(qMax(width, m_width.load()));
    m_lastText = text;
    m_lastWrite.start();
}

void CliProgress::clear()
{
    const int width = m_width.exchange(0);
    if (!m_terminal || width == 0)
        return;
    std::fputs((u'\r' + QString(width, u' ') + u'\r').toUtf8().constData(), m_out);
    std::fflush(m_out);
    m_lastText.clear();
}

ProgressAwareMessenger::ProgressAwareMessenger(Messenger &inner, CliProgress &progress)
    : m_inner(inner), m_progress(progress)
{
}

Answer ProgressAwareMessenger::show(const Message &message)
{
    m_progress.clear();
    return m_inner.show(message);
}

void ProgressAwareMessenger::addLog(const QString &line)
{
    m_progress.clear();
    m_inner.addLog(line);
}

void ProgressAwareMessenger::clearLog()
{
    m_inner.clearLog();
}

void ProgressAwareMessenger::openUrl(const QString &url)
{
    m_progress.clear();
    m_inner.openUrl(url);
}

}  // namespace velmar
