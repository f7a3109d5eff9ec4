#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace velmar {

class CliProgress;

// Ctrl+C, SIGTERM and SIGHUP (on Windows: Ctrl+C and the console being closed) while velmar-cli
// copies. The first Ctrl+C says "취소하는 중..." at once and cancels the copy (its program is
// stopped, partial files and the staging database removed, exit status 1). A first SIGTERM or
// SIGHUP cancels the copy the same way, quietly; when the copy has not ended within 5 s its
// programs are killed, and 5 s later velmar-cli ends regardless. After such a signal velmar-cli
// ends by it (see endBySignal). A second signal of any of these ends velmar-cli at once, by that
// signal, after killing the program it runs: no child outlives it. One at a time; the handlers
// are restored when it goes.
class CliInterrupt {
public:
    // cancel runs on a thread of its own, never inside the signal handler. While progress shows
    // a line, the message starts on a line of its own.
    explicit CliInterrupt(std::function<void()> cancel, const CliProgress *progress = nullptr);
    ~CliInterrupt();
    CliInterrupt(const CliInterrupt &) = delete;
    CliInterrupt &operator=(const CliInterrupt &) = delete;

    // Once the copy has ended: after a SIGTERM or SIGHUP that cancelled it, ends the process by
    // that signal, as its sender expects; otherwise returns.
    static void endBySignal();

private:
    void watch();
    bool waitForQuit();

    std::function<void()> m_cancel;
    std::thread m_watcher;
};

}  // namespace velmar
