#include "observe/observation.h"

#include "reply/reply.h"
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

  const Element application = platform.createApplicationElement(pid);
  platform.setMessagingTimeout(application, kObservationTimeout);

  // The application's role first, its answer unused: on macOS, Chromium and Electron turn
  // on their accessibility tree when a client reads the role of their application element,
  // and build it while the tool goes on.
  attribute(platform, application, "AXRole");
  const std::optional<Element> startWindow =
      focusedAttribute(platform, application, "AXFocusedWindow");
  if (!startWindow) return observationFailure(unavailableReply(kReasonNoWindowInformation));
  const std::optional<Rect> startFrame =
      boundRequests(platform, *startWindow, platform.now() + kWindowFrameSeconds)
          ? bounds(platform, *startWindow)
          : std::nullopt;
  if (!startFrame) return observationFailure(unavailableReply(kReasonNoWindowInformation));

  // The system-wide time-out becomes the default of every element the walk reads. The
  // start window, which the walk reads first, kept the frame's time-out: it gets the same.
  Element system = platform.createSystemWideElement();
  platform.setMessagingTimeout(system, kObservationTimeout);
  platform.setMessagingTimeout(*startWindow, kObservationTimeout);

  std::optional<Element> focused = focusedAttribute(platform, application, "AXFocusedUIElement");
  ObservationState state(application, std::move(system), std::move(focused),
                         platform.now() + kObservationWalkSeconds);

  if (state.focused) appendElement(platform, state, *state.focused, "focus", pid);
  visit(platform, state, *startWindow, "w", 0, pid);

  // The snapshot holds only if the same window of the same application is in front ...
  const std::optional<RunningApplication> endFront = platform.frontmostApplication();
  if (!endFront || endFront->processIdentifier != pid) {
    return observationFailure(unavailableReply(kReasonFrontWindowChanged));
  }
  // (both focus attributes in one request; the window is judged before the input focus)
  static constexpr std::string_view kEndFocus[] = {"AXFocusedWindow", "AXFocusedUIElement"};
  const std::vector<AttrValue> end = attributes(platform, application, kEndFocus);
  const std::optional<Element> endWindow = axElement(end[0]);
  if (!endWindow || !(*endWindow == *startWindow)) {
    return observationFailure(unavailableReply(kReasonFrontWindowChanged));
  }
  // ... and the input focus is where it was.
  state.endFocus = axElement(end[1]);
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
