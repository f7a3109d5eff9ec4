// Compiled into every test program: the process is set up as velmar's own programs set it up in
// main, before the test's main runs.
#include "ProcessSetup.h"

namespace {
const bool prepared = (velmar::prepareProcess(), true);
}
