#pragma once

#include <QtGlobal>

namespace velmar {

// The programs this process is waiting for, so that a process that has to end at once (a second
// Ctrl+C, SIGTERM, a window closed while a copy hangs) can stop them first and leave no child
// behind. Registration is lock-free; killRunningPrograms is async-signal-safe on POSIX.
class RunningProgram {
public:
    explicit RunningProgram(qint64 processId);
    ~RunningProgram();
    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

private:
    int m_slot = -1;
};

// Kills every registered program at once (SIGKILL; TerminateProcess on Windows).
void killRunningPrograms();

}  // namespace velmar
