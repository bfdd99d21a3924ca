#include "focus/resolve_target.h"

#include <algorithm>

#include "platform/text.h"
#include "windows/applications.h"
#include "windows/window_records.h"

namespace nevo {

bool windowHasFocus(Platform& platform, ProcessId pid, const Element& applicationElement,
                    const Element& window) {
  if (frontmostProcessIdentifier(platform) != pid) return false;
  const std::optional<Element> focused = focusedWindow(platform, applicationElement);
  return focused && *focused == window;
}

OrReply<FocusTarget> resolveTarget(Platform& platform, const FocusRequest& request) {
  const std::optional<RunningApplication> application = platform.runningApplication(request.pid);
  if (!application || !ordinaryApplication(platform, *application) ||
      !canonicallyEqual(applicationName(*application), request.appName)) {
    return unavailableReply(kReasonApplicationChanged);
  }

  const Element element = applicationElement(platform, request.pid);
  const WindowList list = windowArray(platform, element, kWindowLimit);
  if (request.index >= static_cast<std::int64_t>(list.windows.size())) {
    return unavailableReply(kReasonWindowChanged);
  }
  if (list.truncated) return unavailableReply(kReasonIncompleteCheck);

  const std::optional<std::vector<WindowRecord>> records =
      windowRecords(platform, list.windows, platform.now() + kFocusRecordsSeconds);
  if (!records) return unavailableReply(kReasonIncompleteCheck);
  const WindowIdentity requested = request.identity();
  const auto matches = std::count_if(records->begin(), records->end(), [&](const WindowRecord& r) {
    return r.identity() == requested;
  });
  if (matches != 1) return unavailableReply(kReasonAmbiguousWindow);

  // The window now at the requested position must be the one the entry described.
  const std::optional<Element>& target = list.windows[static_cast<std::size_t>(request.index)];
  if (!target) return unavailableReply(kReasonStateChanged);
  const bool wasFocused = windowHasFocus(platform, request.pid, element, *target);
  const WallTime deadline = platform.now() + kTargetSeconds;
  if (!boundRequests(platform, *target, deadline)) return unavailableReply(kReasonStateChanged);
  const WindowState now = windowState(platform, *target);
  if (!now.title || !canonicallyEqual(*now.title, request.title)) {
    return unavailableReply(kReasonStateChanged);
  }
  if (!now.frame || !rectsEqual(*now.frame, request.bounds)) {
    return unavailableReply(kReasonStateChanged);
  }
  if (now.minimized != request.isMinimized) return unavailableReply(kReasonStateChanged);
  if (wasFocused != request.isFrontmost) return unavailableReply(kReasonStateChanged);

  return FocusTarget{*application, element, *target, request.isMinimized, deadline};
}

}  // namespace nevo
