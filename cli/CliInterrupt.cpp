#include "CliInterrupt.h"

#include "CliProgress.h"
#include "RunningPrograms.h"

#include <QtGlobal>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

namespace velmar {

namespace {

const char kCancelling[] = "취소하는 중...\n";

std::atomic_int interrupts {0};
// The SIGTERM or SIGHUP (console close on Windows) that cancelled the copy, 0 for none.
std::atomic_int endingSignal {0};
// How long a copy cancelled by such a signal may take to clean up before its programs are
// killed, and again before velmar-cli ends regardless.
constexpr int kCleanUpMs = 5000;
std::atomic<const CliProgress *> shownProgress {nullptr};

bool progressLineUp()
{
    const CliProgress *progress = shownProgress.load();
    return progress && progress->lineShown();
}

#ifdef Q_OS_UNIX

// The handler only writes a byte here; the watcher thread does the rest outside the handler.
int wakePipe[2] = {-1, -1};
constexpr char kWakeCancel = 'c';
constexpr char kWakeQuit = 'q';
constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP};

void writeAll(int fd, const char *text, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        size -= size_t(n);
    }
}

// Async-signal-safe throughout: atomics, write, kill, sigaction, raise.
extern "C" void onSignal(int signal)
{
    const int savedErrno = errno;
    if (interrupts.fetch_add(1) == 0) {
        if (signal == SIGINT) {
            if (progressLineUp())
                writeAll(STDERR_FILENO, "\n", 1);
            writeAll(STDERR_FILENO, kCancelling, sizeof kCancelling - 1);
        } else {
            // Nobody may be left to read it (a closed terminal): the copy stops without a word.
            endingSignal.store(signal);
        }
        writeAll(wakePipe[1], &kWakeCancel, 1);
        errno = savedErrno;
        return;
    }
    killRunningPrograms();
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    // Delivered once the handler returns: velmar-cli ends by this signal, as its caller expects.
    raise(signal);
    errno = savedErrno;
}

void endNow(int signal)
{
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

#else

// Windows runs the handler on a thread of its own, where the cancel may run directly.
std::function<void()> *windowsCancel = nullptr;
std::atomic_bool copyEnded {false};

// The console is being closed: Windows ends the process once this returns (or after its own
// few seconds), so the cancelled copy gets that long to clean up.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    if (interrupts.fetch_add(1) == 0 && windowsCancel) {
        endingSignal.store(SIGTERM);
        (*windowsCancel)();
    }
    for (int waited = 0; !copyEnded.load() && waited < 4500; waited += 50) {
        if (waited == 3000)
            killRunningPrograms();
        Sleep(50);
    }
    killRunningPrograms();
    return TRUE;
}

extern "C" void onSignal(int signal)
{
    if (interrupts.fetch_add(1) == 0) {
        std::signal(signal, onSignal);
        std::fputs(progressLineUp() ? "\n" : "", stderr);
        std::fputs(kCancelling, stderr);
        std::fflush(stderr);
        if (windowsCancel)
            (*windowsCancel)();
        return;
    }
    killRunningPrograms();
    std::_Exit(128 + signal);
}

#endif

}  // namespace

CliInterrupt::CliInterrupt(std::function<void()> cancel, const CliProgress *progress)
    : m_cancel(std::move(cancel))
{
    interrupts.store(0);
    shownProgress.store(progress);
#ifdef Q_OS_UNIX
    if (::pipe(wakePipe) == 0) {
        for (int fd : wakePipe)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        m_watcher = std::thread([this] { watch(); });
    }
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Reads and waits go on after the handler; the copy's own checks see the cancel.
    action.sa_flags = SA_RESTART;
    for (int s : kHandled)
        sigaction(s, &action, nullptr);
#else
    windowsCancel = &m_cancel;
    copyEnded.store(false);
    std::signal(SIGINT, onSignal);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif
}

CliInterrupt::~CliInterrupt()
{
#ifdef Q_OS_UNIX
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int s : kHandled)
        sigaction(s, &fallback, nullptr);
    if (m_watcher.joinable()) {
        writeAll(wakePipe[1], &kWakeQuit, 1);
        m_watcher.join();
        ::close(wakePipe[0]);
        ::close(wakePipe[1]);
        wakePipe[0] = wakePipe[1] = -1;
    }
#else
    std::signal(SIGINT, SIG_DFL);
    windowsCancel = nullptr;
    copyEnded.store(true);
#endif
    shownProgress.store(nullptr);
}

void CliInterrupt::endBySignal()
{
    const int signal = endingSignal.exchange(0);
    if (signal == 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef Q_OS_UNIX
    endNow(signal);
#else
    // The console is going; Windows ends the process once its handler returns.
    std::_Exit(128 + signal);
#endif
}

void CliInterrupt::watch()
{
#ifdef Q_OS_UNIX
    for (;;) {
        char wake = 0;
        const ssize_t n = ::read(wakePipe[0], &wake, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || wake == kWakeQuit)
            return;
        if (wake == kWakeCancel && m_cancel)
            m_cancel();
        if (endingSignal.load() != 0 && !waitForQuit())
            return;
    }
#endif
}

#ifdef Q_OS_UNIX
bool CliInterrupt::waitForQuit()
{
    // The copy cleans up; a program that does not stop is killed, and a copy that still does not
    // end is ended with the process.
    for (int round = 0; round < 2; ++round) {
        pollfd fd{wakePipe[0], POLLIN, 0};
        int ready = 0;
        do
            ready = ::poll(&fd, 1, kCleanUpMs);
        while (ready < 0 && errno == EINTR);
        if (ready > 0)
            return true;  // the quit byte (or a later signal's wake) is there to read
        if (round == 0)
            killRunningPrograms();
    }
    endNow(endingSignal.load());
    return false;
}
#endif

}  // namespace velmar
