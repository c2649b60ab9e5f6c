#pragma once

#include "AudioHardware.h"

namespace corvalle {

// Hands tasks to the thread of the QCoreApplication, to run from its event loop.
// Safe to call from any thread; a task posted when no application exists is dropped.
MainThreadPoster qtMainThreadPoster();

} // namespace corvalle
