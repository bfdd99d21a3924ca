// The workspace of the macOS backend (NSWorkspace, NSRunningApplication) behind a plain C++
// interface. The system's is AppKit's (workspace.mm, the backend's only Objective-C); the
// tests put one over the simulated desktop in its place.
//
// AppKit answers from what it took in at the last turn of the main run loop: the frontmost
// application, the running applications and each running application's properties "persist
// until the next turn of the main run loop in a common mode". A tool that never runs its run
// loop sees them frozen; AxPlatform turns the run loop before every read (cfRunLoopTurn).
#pragma once

#include <optional>
#include <vector>

#include "platform/platform.h"

namespace nevo::macos {

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual std::vector<RunningApplication> runningApplications() = 0;
  virtual std::optional<RunningApplication> runningApplication(ProcessId pid) = 0;
  // False when the application refuses (or has gone).
  virtual bool activate(const RunningApplication& application, unsigned options) = 0;
};

// AppKit's shared workspace.
Workspace& appKitWorkspace();

}  // namespace nevo::macos
