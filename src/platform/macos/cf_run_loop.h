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

// Serves what is already pending on the current thread's run loop in the default mode,
// without waiting: one pass, and another after each pass that handled a source, until a
// pass finds nothing (at most kRunLoopTurnPasses passes, so that a source that keeps
// firing cannot hold the tool). AppKit takes in a change of the frontmost or the running
// applications only on such a turn.
void cfRunLoopTurn();
inline constexpr int kRunLoopTurnPasses = 16;

}  // namespace nevo::macos
