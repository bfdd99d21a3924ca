// Window identity, records and entries. Windows of other applications carry no lasting
// identifier, so a window is named by its application's process identifier, its index in
// that application's capped window list, and its identity: title, frame and minimized
// state. The window list hands this out as a window entry; the focus command reads it
// back and looks for the window again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/reply.h"
#include "platform/attributes.h"
#include "platform/platform.h"

namespace nevo {

// Longest usable window title, in user-perceived characters. Titles are never cut: a
// longer one makes the window unusable.
inline constexpr std::size_t kTitleLimit = 4096;

class WindowIdentity {
 public:
  WindowIdentity(std::string windowTitle, const Rect& windowFrame, bool isMinimized);

  const std::string title;
  const Rect frame;
  const bool minimized;

  // Canonically equivalent titles, exactly equal frames, equal minimized flags.
  friend bool operator==(const WindowIdentity& a, const WindowIdentity& b);

 private:
  // Taken once: the listing compares every identity of an application with every other.
  std::u32string canonicalTitle_;
};

struct WindowRecord {
  std::int64_t index = 0;  // position in the window list, gaps included
  Element element;
  WindowIdentity identity;
};

// The window's "AXTitle" ("" when unreadable), or absent when it is longer than the
// title limit.
std::optional<std::string> windowTitle(Platform& platform, const Element& window);

// Whether "AXMinimized" reads as true; anything unreadable counts as not minimized.
bool windowMinimized(Platform& platform, const Element& window);

// The records of the usable windows of one window list (a title within the limit and a
// frame of positive size), in list order; absent when the deadline passed before they
// were complete.
std::optional<std::vector<WindowRecord>> windowRecords(
    Platform& platform, const std::vector<std::optional<Element>>& windows, WallTime deadline);

// An application's focused window, read through its application element.
std::optional<Element> focusedWindow(Platform& platform, const Element& applicationElement);

// The window entry's "id": the process identifier and the index, as "812:2".
std::string windowEntryId(ProcessId pid, std::int64_t index);

// The window entry of one record of an application.
Reply windowEntry(const RunningApplication& application, const WindowRecord& record,
                  bool isFrontmost);

}  // namespace nevo
