#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace velmar {

class CliProgress;

// Ctrl+C, SIGTERM and SIGHUP while velmar-cli copies. The first Ctrl+C says "취소하는 중..." at
// once and cancels the copy (its program is stopped, partial files removed, exit status 1). A
// second Ctrl+C, SIGTERM or SIGHUP ends velmar-cli at once, by that signal, after killing the
// program it runs: no child outlives it. One at a time; the handlers are restored when it goes.
class CliInterrupt {
public:
    // cancel runs on a thread of its own, never inside the signal handler. While progress shows
    // a line, the message starts on a line of its own.
    explicit CliInterrupt(std::function<void()> cancel, const CliProgress *progress = nullptr);
    ~CliInterrupt();
    CliInterrupt(const CliInterrupt &) = delete;
    CliInterrupt &operator=(const CliInterrupt &) = delete;

private:
    void watch();

    std::function<void()> m_cancel;
    std::thread m_watcher;
};

}  // namespace velmar
