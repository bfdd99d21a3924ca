#include "focus/activation.h"

#include "windows/window_records.h"

namespace nevo {
namespace {

bool focusConfirmed(Platform& platform, const FocusTarget& target) {
  return windowHasFocus(platform, target.application.processIdentifier, target.applicationElement,
                        target.window) &&
         !windowMinimized(platform, target.window);
}

}  // namespace

Reply activateAndVerify(Platform& platform, const FocusTarget& target) {
  platform.setMessagingTimeout(target.window, kWindowChangeTimeout);
  if (target.isMinimized &&
      platform.setBooleanAttribute(target.window, "AXMinimized", false) != AxStatus::success) {
    return unavailableReply(kReasonRestoreRefused);
  }
  if (!platform.activate(target.application, kActivateIgnoringOtherApps)) {
    return unavailableReply(kReasonSwitchFailed);
  }
  if (platform.performAction(target.window, "AXRaise") != AxStatus::success) {
    return unavailableReply(kReasonSwitchFailed);
  }
  const WallTime deadline = platform.now() + kVerificationSeconds;
  for (;;) {
    if (focusConfirmed(platform, target)) return {{"status", kStatusFocused}};
    platform.runLoopUntil(platform.now() + kWaitSliceSeconds);
    if (!(platform.now() < deadline)) return unavailableReply(kReasonFocusUnconfirmed);
  }
}

}  // namespace nevo
