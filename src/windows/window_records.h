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
#include <utility>
#include <vector>

#include "reply/reply.h"
#include "platform/attributes.h"
#include "platform/platform.h"

namespace nevo {

// Longest usable window title, in user-perceived characters. Titles are never cut: a
// longer one makes the window unusable.
inline constexpr std::size_t kTitleLimit = 4096;

// A window's title, frame and minimized state. Immutable through its interface (it can
// still be moved and assigned as a whole).
class WindowIdentity {
 public:
  WindowIdentity(std::string title, const Rect& frame, bool minimized);

  const std::string& title() const { return title_; }
  const Rect& frame() const { return frame_; }
  bool minimized() const { return minimized_; }

  // Canonically equivalent titles, exactly equal frames, equal minimized flags.
  friend bool operator==(const WindowIdentity& a, const WindowIdentity& b);

 private:
  std::string title_;
  Rect frame_;
  bool minimized_;
  // Taken once: the listing compares every identity of an application with every other.
  std::u32string canonicalTitle_;
};

// One usable window of a window list: its position there, the window, and its identity.
class WindowRecord {
 public:
  WindowRecord(std::int64_t index, Element element, WindowIdentity identity)
      : index_(index), element_(std::move(element)), identity_(std::move(identity)) {}

  std::int64_t index() const { return index_; }  // position in the window list, gaps included
  const Element& element() const { return element_; }
  const WindowIdentity& identity() const { return identity_; }

 private:
  std::int64_t index_;
  Element element_;
  WindowIdentity identity_;
};

// What identifies a window now: its title (absent when longer than the title limit), its
// frame (absent when unreadable) and whether it is minimized, read in one request.
struct WindowState {
  std::optional<std::string> title;
  std::optional<Rect> frame;
  bool minimized = false;
};
WindowState windowState(Platform& platform, const Element& window);

// The window's "AXTitle" ("" when unreadable), or absent when it is longer than the
// title limit.
std::optional<std::string> windowTitle(Platform& platform, const Element& window);

// The records of the usable windows of one window list (a title within the limit and a
// frame of positive size), in list order; absent when the deadline passed before they
// were complete. Each window's request waits at most until the deadline (`boundRequests`).
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
