// Which running applications take part in listing and focusing, in which order, under
// which name, and how one application's windows are fetched. The window list and the
// focus command share these rules, so that a window listed by one run can be found again
// by the next.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace nevo {

// Most windows taken from one application; an application with more is incomplete.
inline constexpr long kWindowLimit = 80;
// Messaging time-out of each application element of the window list and the focus
// command: one unresponsive application must not stall the run. Window elements get no
// fixed time-out: each request through one is bounded by its command's deadline
// (`boundRequests`).
inline constexpr float kApplicationTimeout = 0.05f;
// Longest application name reported, in user-perceived characters.
inline constexpr std::size_t kApplicationNameLimit = 300;

// A regular application that is still running and is not this tool.
bool ordinaryApplication(Platform& platform, const RunningApplication& application);

// The localized name cut to 300 characters, or "" when there is none.
std::string applicationName(const RunningApplication& application);

// An application's windows in "AXWindows" order, at most `limit` of them. A position
// whose value is not an element stays in the list, empty, so that the positions after it
// keep their meaning as window indexes; it is never recorded, listed or matched
// (`windowRecords` skips it, and a focus request for its index is refused).
struct WindowList {
  std::vector<std::optional<Element>> windows;
  bool truncated = false;  // the application reported more than `limit` windows
};
WindowList windowArray(Platform& platform, const Element& applicationElement,
                       long limit = kWindowLimit);

// The application's element, with its messaging time-out set before any read.
Element applicationElement(Platform& platform, ProcessId pid);

// The frontmost application's process identifier, absent when there is none.
std::optional<ProcessId> frontmostProcessIdentifier(Platform& platform);

// The ordinary applications, the frontmost one first, the others by ascending process
// identifier.
std::vector<RunningApplication> ordinaryApplicationsInOrder(Platform& platform,
                                                            std::optional<ProcessId> frontmost);

}  // namespace nevo
