#include "platform/macos/cf_run_loop.h"

#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>

#include "platform/posix/posix_process.h"

namespace nevo::macos {
namespace {
// The longest single run of the run loop. The tool never waits this long; the cap only
// keeps a far date from becoming one endless run.
constexpr CFTimeInterval kLongestRun = 86400;
}  // namespace

WallTime cfNow() {
  return CFAbsoluteTimeGetCurrent() + kCFAbsoluteTimeIntervalSince1970;
}

void cfRunLoopUntil(WallTime date) {
  for (;;) {
    const CFTimeInterval left = date - cfNow();
    if (!(left > 0)) return;
    const CFRunLoopRunResult result =
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, std::min(left, kLongestRun), false);
    if (result == kCFRunLoopRunFinished) {
      posix::sleepUntil(date);
      return;
    }
  }
}

void cfRunLoopTurn() {
  for (int pass = 0; pass < kRunLoopTurnPasses; ++pass) {
    // No time at all: a pass that finds nothing ready returns kCFRunLoopRunTimedOut at once.
    if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true) != kCFRunLoopRunHandledSource) return;
  }
}

}  // namespace nevo::macos
