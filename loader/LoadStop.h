#pragma once

#include <QString>

#include <atomic>

namespace velmar::load {

// Whether a load goes on, and if not, why. It leaves Running once: for Cancelled when the caller's
// cancel is carried out (the connections stopped), for Failed at the first failure. It changes under
// the loader's lock; state() may be asked without it, since a reader waiting for a growing file asks.
class LoadStop {
public:
    enum class State { Running, Cancelled, Failed };
    struct Failure {
        qint64 line = 0;
        QString message;
        unsigned error = 0;  // the server's or the client library's, 0 for none
    };

    explicit LoadStop(const std::atomic_bool *cancel) : m_cancel(cancel) {}

    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    // The caller asked for a cancel that the dispatcher has yet to carry out.
    bool cancelAsked() const { return running() && m_cancel && m_cancel->load(); }
    // A reader stops reading (a read error then is the stop's, not the file's): the load no longer
    // runs, a cancel is asked, or the loader closes.
    bool readerGivesUp() const { return !running() || (m_cancel && m_cancel->load()) || m_closing; }
    // The loader closes its connections: they take nothing more once their queues are empty.
    bool closing() const { return m_closing; }

    void cancel();
    // Of several connections failing at once, the earliest statement in the file is reported.
    void fail(qint64 line, const QString &message, unsigned error);
    void close() { m_closing = true; }
    const Failure &failure() const { return m_failure; }

private:
    const std::atomic_bool *m_cancel;
    std::atomic<State> m_state{State::Running};
    std::atomic_bool m_closing{false};
    Failure m_failure;
};

}  // namespace velmar::load
