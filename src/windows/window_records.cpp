#include "windows/window_records.h"

#include "platform/text.h"
#include "windows/applications.h"

namespace nevo {

WindowIdentity::WindowIdentity(std::string windowTitle, const Rect& windowFrame, bool isMinimized)
    : title(std::move(windowTitle)),
      frame(windowFrame),
      minimized(isMinimized),
      canonicalTitle_(canonicalForm(title)) {}

bool operator==(const WindowIdentity& a, const WindowIdentity& b) {
  return a.minimized == b.minimized && rectsEqual(a.frame, b.frame) &&
         a.canonicalTitle_ == b.canonicalTitle_;
}

std::optional<std::string> windowTitle(Platform& platform, const Element& window) {
  AttrValue value = attribute(platform, window, "AXTitle");
  std::string* title = std::get_if<std::string>(&value);
  if (title == nullptr) return std::string();
  if (longerThan(*title, kTitleLimit)) return std::nullopt;
  return std::move(*title);
}

bool windowMinimized(Platform& platform, const Element& window) {
  return booleanAttribute(platform, window, "AXMinimized").value_or(false);
}

std::optional<std::vector<WindowRecord>> windowRecords(
    Platform& platform, const std::vector<std::optional<Element>>& windows, WallTime deadline) {
  std::vector<WindowRecord> records;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (!(platform.now() < deadline)) return std::nullopt;
    if (!windows[i]) continue;
    const Element& window = *windows[i];
    std::optional<std::string> title = windowTitle(platform, window);
    if (!title) continue;
    const std::optional<Rect> frame = bounds(platform, window);
    if (!frame || !(rectWidth(*frame) > 0) || !(rectHeight(*frame) > 0)) continue;
    const bool minimized = windowMinimized(platform, window);
    records.push_back(WindowRecord{static_cast<std::int64_t>(i), window,
                                   WindowIdentity{std::move(*title), *frame, minimized}});
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
      {"id", windowEntryId(application.processIdentifier, record.index)},
      {"pid", application.processIdentifier},
      {"appName", applicationName(application)},
      {"title", record.identity.title},
      {"bounds", rect(record.identity.frame)},
      {"isMinimized", record.identity.minimized},
      {"isFrontmost", isFrontmost},
  };
}

}  // namespace nevo
