#include "focus/activation.h"

#include "platform/attributes.h"
#include "windows/applications.h"
#include "windows/window_records.h"

namespace nevo {
namespace {

// The focus test, then the minimized state. An unreadable state does not hold the window
// for minimized, but one that could not be read in time proves nothing: a window that
// was still minimized would pass only because its answer was cut off.
bool focusConfirmed(Platform& platform, const FocusTarget& target, WallTime readDeadline) {
  if (!windowHasFocus(platform, target.application.processIdentifier, target.applicationElement,
                      target.window)) {
    return false;
  }
  if (!boundRequests(platform, target.window, readDeadline)) return false;
  if (const std::optional<bool> minimized =
          booleanAttribute(platform, target.window, "AXMinimized")) {
    return !*minimized;
  }
  return platform.now() < readDeadline;
}

}  // namespace

Reply activateAndVerify(Platform& platform, const FocusTarget& target) {
  // A change that cannot be asked before the target's deadline fails like one that ran out
  // of time.
  if (target.isMinimized &&
      (!boundRequests(platform, target.window, target.deadline) ||
       platform.setBooleanAttribute(target.window, "AXMinimized", false) != AxStatus::success)) {
    return unavailableReply(kReasonRestoreRefused);
  }
  if (!platform.activate(target.application, kActivateIgnoringOtherApps)) {
    return unavailableReply(kReasonSwitchFailed);
  }
  if (!boundRequests(platform, target.window, target.deadline) ||
      platform.performAction(target.window, "AXRaise") != AxStatus::success) {
    return unavailableReply(kReasonSwitchFailed);
  }
  const WallTime deadline = platform.now() + kVerificationSeconds;
  // The last test starts before the deadline; its focused-window read, through the
  // application element, ends within the application time-out, so its minimized-state
  // read always has time left until this.
  const WallTime readDeadline = deadline + static_cast<double>(kApplicationTimeout);
  for (;;) {
    if (focusConfirmed(platform, target, readDeadline)) return {{"status", kStatusFocused}};
    platform.runLoopUntil(platform.now() + kWaitSliceSeconds);
    if (!(platform.now() < deadline)) return unavailableReply(kReasonFocusUnconfirmed);
  }
}

}  // namespace nevo
