// The clock and the run-loop wait of the macOS backend, over CoreFoundation.
#pragma once

#include "platform/platform.h"

namespace nevo::macos {

// Wall-clock seconds since 1970 (CoreFoundation counts from 2001).
WallTime cfNow();

// Serves the current thread's run loop in the default mode until `date` (on the clock of
// cfNow), so that the workspace can take in what changed meanwhile; returns at or after
// the date. When the mode has nothing registered, running it would return at once, over
// and over: the rest of the time is then slept.
void cfRunLoopUntil(WallTime date);

}  // namespace nevo::macos
