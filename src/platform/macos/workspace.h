// The workspace of the macOS backend (NSWorkspace, NSRunningApplication), behind a plain C++
// interface; workspace.mm is the backend's only Objective-C.
#pragma once

#include <optional>
#include <vector>

#include "platform/platform.h"

namespace nevo::macos {

std::optional<RunningApplication> frontmostApplication();
std::vector<RunningApplication> runningApplications();
std::optional<RunningApplication> runningApplication(ProcessId pid);
// False when the application refuses (or has gone).
bool activate(const RunningApplication& application, unsigned options);

}  // namespace nevo::macos
