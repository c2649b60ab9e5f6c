#pragma once

#include <chrono>
#include <sys/types.h>

namespace corvalle::bench {

// User and system CPU seconds of one process from /proc, or 0 once it is gone.
double processCPUSeconds(pid_t pid);
// Context switches, voluntary and not, of all threads of one process so far.
double processContextSwitches(pid_t pid);

// Runs the event loop for `time`, sleeping between events as the application's does.
void runEventLoop(std::chrono::milliseconds time);

} // namespace corvalle::bench
