#include "windows/window_records.h"

#include "platform/text.h"
#include "windows/applications.h"

namespace nevo {

WindowIdentity::WindowIdentity(std::string title, const Rect& frame, bool minimized)
    : title_(std::move(title)),
      frame_(frame),
      minimized_(minimized),
      canonicalTitle_(canonicalForm(title_)) {}

bool operator==(const WindowIdentity& a, const WindowIdentity& b) {
  return a.minimized_ == b.minimized_ && rectsEqual(a.frame_, b.frame_) &&
         a.canonicalTitle_ == b.canonicalTitle_;
}

namespace {

// The title rule on a value already read: "" unless it is a string, absent when the
// string is longer than the title limit.
std::optional<std::string> titleOf(AttrValue value) {
  std::string* title = std::get_if<std::string>(&value);
  if (title == nullptr) return std::string();
  if (longerThan(*title, kTitleLimit)) return std::nullopt;
  return std::move(*title);
}

}  // namespace

std::optional<std::string> windowTitle(Platform& platform, const Element& window) {
  return titleOf(attribute(platform, window, "AXTitle"));
}

WindowState windowState(Platform& platform, const Element& window) {
  static constexpr std::string_view kWindowAttributes[] = {"AXTitle", "AXPosition", "AXSize",
                                                           "AXMinimized"};
  std::vector<AttrValue> values = attributes(platform, window, kWindowAttributes);
  return {titleOf(std::move(values[0])), bounds(values[1], values[2]),
          booleanValue(values[3]).value_or(false)};
}

std::optional<std::vector<WindowRecord>> windowRecords(
    Platform& platform, const std::vector<std::optional<Element>>& windows, WallTime deadline) {
  std::vector<WindowRecord> records;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!(platform.now() < deadline)) return std::nullopt;
    if (!windows[i]) continue;
    const Element& window = *windows[i];
    // The window's request may take what is left until the deadline: a slow window is
    // still recorded, a hung one ends the records at the deadline.
    if (!boundRequests(platform, window, deadline)) return std::nullopt;
    WindowState state = windowState(platform, window);
    if (!state.title) continue;
    const std::optional<Rect>& frame = state.frame;
    if (!frame || !(rectWidth(*frame) > 0) || !(rectHeight(*frame) > 0)) continue;
    records.emplace_back(static_cast<std::int64_t>(i), window,
                         WindowIdentity(std::move(*state.title), *frame, state.minimized));
  }
  if (!(platform.now() < deadline)) return std::nullopt;
  return records;
}

std::optional<Element> focusedWindow(Platform& platform, const Element& applicationElement) {
  return axElement(attribute(platform, applicationElement, "AXFocusedWindow"));
}

std::string windowEntryId(ProcessId pid, std::int64_t index) {
  return std::to_string(pid) + ":" + std::to_string(index);
}

Reply windowEntry(const RunningApplication& application, const WindowRecord& record,
                  bool isFrontmost) {
  return {
      {"id", windowEntryId(application.processIdentifier, record.index())},
      {"pid", application.processIdentifier},
      {"appName", applicationName(application)},
      {"title", record.identity().title()},
      {"bounds", rect(record.identity().frame())},
      {"isMinimized", record.identity().minimized()},
      {"isFrontmost", isFrontmost},
  };
}

}  // namespace nevo
