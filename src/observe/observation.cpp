#include "observe/observation.h"

#include "app/reply.h"
#include "observe/walk.h"
#include "platform/attributes.h"

namespace nevo {
namespace {

// Every failure reply of the observation carries an empty "elements" list.
Reply observationFailure(Reply reply) {
  reply["elements"] = Reply::array();
  return reply;
}

std::optional<Element> focusedAttribute(Platform& platform, const Element& application,
                                        std::string_view name) {
  return axElement(attribute(platform, application, name));
}

}  // namespace

Reply observe(Platform& platform) {
  if (!permissionGranted(platform)) return observationFailure(permissionDeniedReply());

  const std::optional<RunningApplication> front = platform.frontmostApplication();
  if (!front) return observationFailure(unavailableReply(kReasonNoFrontmostApplication));
  const ProcessId pid = front->processIdentifier;

  ObservationState state;
  state.application = platform.createApplicationElement(pid);
  platform.setMessagingTimeout(*state.application, kObservationTimeout);
  const Element& application = *state.application;

  const std::optional<Element> startWindow =
      focusedAttribute(platform, application, "AXFocusedWindow");
  if (!startWindow) return observationFailure(unavailableReply(kReasonNoWindowInformation));
  const std::optional<Rect> startFrame = bounds(platform, *startWindow);
  if (!startFrame) return observationFailure(unavailableReply(kReasonNoWindowInformation));

  state.system = platform.createSystemWideElement();
  platform.setMessagingTimeout(*state.system, kObservationTimeout);
  state.focused = focusedAttribute(platform, application, "AXFocusedUIElement");
  state.deadline = platform.now() + kObservationWalkSeconds;
  state.roles = &roleTable();

  if (state.focused) appendElement(platform, state, *state.focused, "focus", pid);
  visit(platform, state, *startWindow, "w", 0, pid);

  // The snapshot holds only if the same window of the same application is in front ...
  const std::optional<RunningApplication> endFront = platform.frontmostApplication();
  if (!endFront || endFront->processIdentifier != pid) {
    return observationFailure(unavailableReply(kReasonFrontWindowChanged));
  }
  const std::optional<Element> endWindow =
      focusedAttribute(platform, application, "AXFocusedWindow");
  if (!endWindow || !(*endWindow == *startWindow)) {
    return observationFailure(unavailableReply(kReasonFrontWindowChanged));
  }
  // ... and the input focus is where it was.
  state.endFocus = focusedAttribute(platform, application, "AXFocusedUIElement");
  const bool focusUnchanged = state.focused.has_value() == state.endFocus.has_value() &&
                              (!state.focused || *state.focused == *state.endFocus);
  if (!focusUnchanged) return observationFailure(unavailableReply(kReasonInputFocusChanged));

  return {
      {"status", kStatusAvailable},
      {"app",
       {{"pid", pid},
        {"name", front->localizedName.value_or("")},
        {"bundleId", front->bundleIdentifier.value_or("")}}},
      {"window",
       {{"title", text(platform, *startWindow, "AXTitle")}, {"bounds", rect(*startFrame)}}},
      {"elements", std::move(state.elements)},
      {"truncated", state.truncated},
  };
}

}  // namespace nevo
