// The core's walk over the fake application, shared by the backend's tests and the hostile
// benchmark: a scene of buttons in one window, and the walk of the focused window as the
// observation makes it (without the checks around it).
#pragma once

#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "fake_application.h"
#include "platform/platform.h"
#include "platform/linux/linux_platform.h"

namespace nevo::lin::test {

// A focused, active window "/w" of 600 x 1000 holding `items` push buttons "Item N", 40
// pixels apart, each with a description and an identifier.
void addButtonScene(FakeApplication& app, int items);

struct Walked {
  std::vector<nlohmann::json> records;
  std::optional<Element> window;  // the focused window, as read
};

// The application's and the system-wide elements with `timeout`, the walk's deadline
// `walkSeconds` away; with `withFocus`, the focused element is read and recorded first.
Walked walkFocusedWindow(LinuxPlatform& platform, float timeout, double walkSeconds,
                         bool withFocus);

// The process's peak resident size so far, in KiB (-1 when it cannot be read).
long peakKilobytes();

}  // namespace nevo::lin::test
