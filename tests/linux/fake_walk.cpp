#include "fake_walk.h"

#include <fstream>
#include <string>

#include "observe/observation.h"
#include "observe/walk.h"
#include "platform/attributes.h"
#include "platform/linux/atspi_roles.h"

namespace nevo::lin::test {

void addButtonScene(FakeApplication& app, int items) {
  constexpr std::uint32_t kPushButton = 43;
  const StateSet shown =
      stateBit(State::showing) | stateBit(State::visible) | stateBit(State::enabled);
  FakeObject window;
  window.role = kRoleFrame;
  window.name = "Window";
  window.extents = {0, 0, 600, 1000};
  window.states = shown | stateBit(State::active);
  app.add("/w", std::string(kRootPath), window);
  for (int i = 0; i < items; ++i) {
    FakeObject item;
    item.role = kPushButton;
    item.name = "Item " + std::to_string(i);
    item.description = "what item " + std::to_string(i) + " does";
    item.id = "item-" + std::to_string(i);
    item.extents = {10, 10 + 40 * i, 100, 30};
    item.states = shown;
    app.add("/w/" + std::to_string(i), "/w", item);
  }
}

Walked walkFocusedWindow(LinuxPlatform& platform, float timeout, double walkSeconds,
                         bool withFocus) {
  const Element application = platform.createApplicationElement(kFakePid);
  platform.setMessagingTimeout(application, timeout);
  std::optional<Element> window = axElement(attribute(platform, application, "AXFocusedWindow"));
  Element system = platform.createSystemWideElement();
  platform.setMessagingTimeout(system, timeout);
  std::optional<Element> focused;
  if (withFocus) focused = axElement(attribute(platform, application, "AXFocusedUIElement"));
  ObservationState state(application, std::move(system), std::move(focused),
                         platform.now() + walkSeconds);
  if (state.focused) appendElement(platform, state, *state.focused, "focus", kFakePid);
  if (window) visit(platform, state, *window, "w", 0, kFakePid);
  Walked walked;
  walked.window = std::move(window);
  for (const auto& record : state.elements) walked.records.push_back(record);
  return walked;
}

long peakKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace nevo::lin::test
