// The observation (the command without arguments): the frontmost application, its
// focused window and that window's interactive elements, reported only when neither the
// focused window nor the input focus changed while the tool was reading.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "reply/reply.h"
#include "platform/platform.h"

namespace nevo {

inline constexpr std::string_view kReasonNoFrontmostApplication = "当前没有可读取的前台应用。";
inline constexpr std::string_view kReasonNoWindowInformation =
    "前台应用未提供窗口信息，请使用截图。";
inline constexpr std::string_view kReasonFrontWindowChanged =
    "读取期间前台窗口发生变化，请重新观察。";
inline constexpr std::string_view kReasonInputFocusChanged =
    "读取期间输入焦点发生变化，请重新观察。";

// Messaging time-out of the frontmost application's element and of the system-wide
// element (which makes it the default for every element the walk reads).
inline constexpr float kObservationTimeout = 0.2f;
// How long the element walk may run, from just before it starts.
inline constexpr double kObservationWalkSeconds = 1.8;
// How long the focused window may take to answer its frame, from the start of that read:
// the window has no time-out of its own yet, and a slow one must still be observed.
inline constexpr double kWindowFrameSeconds = 1.0;

// Accessibility role to the role an element record reports. Roles not in the table are
// reported as they are; being in the table qualifies an element for a record.
using RoleTable = std::map<std::string, std::string, std::less<>>;
const RoleTable& roleTable();

// What one observation works on: set up before the walk, updated by it, read after it.
// It can only be built complete: the walk relies on every one of the first four.
struct ObservationState {
  ObservationState(Element applicationElement, Element systemWide,
                   std::optional<Element> focusedElement, WallTime walkDeadline)
      : application(std::move(applicationElement)),
        system(std::move(systemWide)),
        focused(std::move(focusedElement)),
        deadline(walkDeadline) {}

  Element application;                  // the frontmost application's element
  Element system;                       // the system-wide element, root of hit tests
  std::optional<Element> focused;       // the focused element at the start
  WallTime deadline;                    // the walk visits nothing at or after it
  std::int64_t visited = 0;             // visits that passed the entry tests
  bool truncated = false;               // a limit stopped or cut the walk
  Reply elements = Reply::array();      // element records in the order appended
  bool includedFocusedElement = false;  // the focused element's record is in `elements`
  const RoleTable& roles = roleTable();
  std::optional<Element> endFocus;  // the focused element after the walk
};

// Runs the observation and returns its reply.
Reply observe(Platform& platform);

}  // namespace nevo
