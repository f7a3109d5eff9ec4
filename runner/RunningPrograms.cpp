#include "RunningPrograms.h"

#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <sys/types.h>
#endif

namespace velmar {

namespace {

// Enough for every program a copy runs side by side; one more goes unregistered.
constexpr int kSlots = 32;
std::atomic<qint64> registered[kSlots];

static_assert(std::atomic<qint64>::is_always_lock_free, "read from a signal handler");

}  // namespace

RunningProgram::RunningProgram(qint64 processId)
{
    if (processId <= 0)
        return;
    for (int i = 0; i < kSlots; ++i) {
        qint64 empty = 0;
        if (registered[i].compare_exchange_strong(empty, processId)) {
            m_slot = i;
            return;
        }
    }
}

RunningProgram::~RunningProgram()
{
    if (m_slot >= 0)
        registered[m_slot].store(0);
}

void killRunningPrograms()
{
    for (auto &slot : registered) {
        const qint64 pid = slot.load();
        if (pid <= 0)
            continue;
#ifdef Q_OS_WIN
        if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid))) {
            TerminateProcess(h, 1);
            CloseHandle(h);
        }
#else
        ::kill(pid_t(pid), SIGKILL);
#endif
    }
}

}  // namespace velmar
