// Target resolution: whether a (possibly stale) window entry still denotes exactly one
// window, and which. Nothing on screen changes here.
#pragma once

#include <string_view>

#include "reply/reply.h"
#include "focus/focus_request.h"
#include "platform/platform.h"

namespace nevo {

inline constexpr std::string_view kReasonWindowChanged = "目标窗口已变化，请重新获取窗口列表。";
inline constexpr std::string_view kReasonIncompleteCheck =
    "未能完整核对该应用的窗口，请关闭多余窗口或稍后重新获取窗口列表。";
inline constexpr std::string_view kReasonAmbiguousWindow =
    "目标窗口已变化，或存在同名同位置的窗口。请先移动或重命名窗口以便区分，再重新获取窗口列表。";
inline constexpr std::string_view kReasonStateChanged =
    "目标窗口位置、标题或状态已变化，请重新获取窗口列表。";

// How long reading the application's window records may take.
inline constexpr double kFocusRecordsSeconds = 0.8;
// How long the target window may take, from the start of its live check, to answer that
// check, the restore and the raise together: long enough for an application busy for a
// moment, short enough that a hung one cannot hold the command.
inline constexpr double kTargetSeconds = 1.5;

// The one window a request denotes, with what activating it needs.
struct FocusTarget {
  RunningApplication application;
  Element applicationElement;  // with the application time-out set
  Element window;
  bool isMinimized = false;
  // Until when the window's requests before the verification (its live check, restore,
  // raise) may wait: kTargetSeconds after the live check began.
  WallTime deadline = 0;
};

// Whether `window` is the focused window of the frontmost application, and that
// application is `pid`.
bool windowHasFocus(Platform& platform, ProcessId pid, const Element& applicationElement,
                    const Element& window);

// The target of the request, or the reply that refuses it.
OrReply<FocusTarget> resolveTarget(Platform& platform, const FocusRequest& request);

}  // namespace nevo
