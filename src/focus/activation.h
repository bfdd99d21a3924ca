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

// Messaging time-out of the target window for the changes asked of it (restore, raise)
// and the reads that follow: a change can take an application longer than a read, and a
// hung one must still not hold the command.
inline constexpr float kWindowChangeTimeout = 0.5f;

// How long after the raise the focus may take to arrive, and the run-loop slice between
// two looks.
inline constexpr double kVerificationSeconds = 0.9;
inline constexpr double kWaitSliceSeconds = 0.05;

// Brings the target forward and answers "focused" once the focus is confirmed.
Reply activateAndVerify(Platform& platform, const FocusTarget& target);

}  // namespace nevo
