// Activation and verification: restore the target window if it is minimized, activate
// its application, raise it, then watch until it is the focused window of the frontmost
// application.
#pragma once

#include <string_view>

#include "reply/reply.h"
#include "focus/resolve_target.h"
#include "platform/platform.h"

namespace nevo {

inline constexpr std::string_view kReasonRestoreRefused = "应用未允许恢复该最小化窗口。";
inline constexpr std::string_view kReasonSwitchFailed = "系统未完成窗口切换，请重新观察当前窗口。";
inline constexpr std::string_view kReasonFocusUnconfirmed =
    "尚未确认目标窗口获得焦点，请重新观察；可能有系统弹窗阻挡。";

// How long after the raise the focus may take to arrive, and the run-loop slice between
// two looks.
inline constexpr double kVerificationSeconds = 0.9;
inline constexpr double kWaitSliceSeconds = 0.05;

// Brings the target forward and answers "focused" once the focus is confirmed. The
// restore and the raise wait at most until the target's deadline; each minimized-state
// read of the verification at most until the application time-out after the
// verification's deadline, the latest a test that started before it can need.
Reply activateAndVerify(Platform& platform, const FocusTarget& target);

}  // namespace nevo
