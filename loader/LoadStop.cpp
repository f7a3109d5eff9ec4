#include "LoadStop.h"

namespace velmar::load {

void LoadStop::cancel()
{
    if (running())
        m_state = State::Cancelled;
}

void LoadStop::fail(qint64 line, const QString &message, unsigned error)
{
    // After a cancel a statement's error is the kill's: the load stays cancelled.
    if (m_state == State::Cancelled)
        return;
    if (running() || line < m_failure.line)
        m_failure = Failure{line, message, error};
    m_state = State::Failed;
}

}  // namespace velmar::load
