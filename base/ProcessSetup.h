#pragma once

namespace velmar {

// Settles what the whole process must know before Qt does anything: the first call of main, and
// of every test program. Does nothing where nothing needs settling.
//
// On Windows it turns off QRegularExpression's JIT. A thread that ran a JIT match keeps a
// thread_local stack whose destructor the MinGW runtime runs only after it has freed the thread's
// thread-local storage; that destructor then fails inside the runtime's thread-exit handling,
// which keeps a lock held, and the process can no longer end: it stays in the task list after
// its window has closed, holding its own executable, which the next self-update must replace.
// The copy's own threads use regular expressions, so every copy would leave this behind.
void prepareProcess();

}  // namespace velmar
