// The workspace on a Linux desktop: which applications run (the processes of the window
// manager's client windows), which is in front (the active window's), their names, and
// which X11 client window shows which accessible window, for activation, restore, raise,
// the hit test and the titles of unnamed windows.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/linux/connections.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/object_cache.h"
#include "platform/linux/window_match.h"
#include "platform/linux/x11_desktop.h"
#include "platform/platform.h"

namespace nevo::lin {

// How long the workspace's own look-ups (which application owns which bus name, the
// applications' names) may take.
inline constexpr double kWorkspaceSeconds = 0.1;

class Workspace {
 public:
  Workspace(Connections& connections, ObjectCache& cache)
      : connections_(connections), cache_(cache) {}
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // The display, and the registry's listing of the applications taken when connecting
  // (it serves the first look-up of the applications). Without a display there are no
  // applications in front, no client windows and no pairing (tests).
  void attach(X11Desktop& display, std::optional<std::vector<ObjectRef>> registryListing);

  std::optional<RunningApplication> frontmostApplication();
  std::vector<RunningApplication> runningApplications();
  std::optional<RunningApplication> runningApplication(ProcessId pid);
  // Activates the application's client window nearest the top, preferring one that is not
  // iconified. False when it has none or the process is gone.
  bool activate(const RunningApplication& application);

  // The bus name of the process's connection to the accessibility bus, when it has
  // registered with the registry.
  std::optional<std::string> busForPid(ProcessId pid);

  // The client window that shows an accessible window, its properties read afresh; absent
  // when the window is not one of its application's windows or no client window can be
  // paired with it. Which client window shows an accessible window does not change while
  // both exist, so a pairing once made is kept for the run: a window paired by a hit test
  // gets its title or is raised without asking its application again.
  std::optional<ClientWindow> clientWindowOf(CachedObject& window, double deadline);
  // Of an application's accessible windows, those that are on the desktop as windows: the
  // ones paired with one of its client windows (Chromium also has accessible frames that no
  // X11 window shows), and those whose title or frame did not come in time. All of them
  // without a display (tests).
  std::vector<ObjectRef> windowsOnDesktop(const std::string& bus, std::vector<ObjectRef> windows,
                                          double deadline);
  // The accessible window that a client window shows, or absent.
  std::optional<ObjectRef> accessibleWindowOf(const ClientWindow& client, double deadline);
  // Where a top-level window's coordinates start on the screen: (0, 0) where its toolkit
  // gives screen coordinates, inside its X11 client window where it gives them relative to
  // the window (GTK 4 on X11). For a window whose accessible extents are at (0, 0) while
  // the client window that shows it is elsewhere, windowRelativeOrigin decides. Decided
  // once per window and run; a window anywhere but (0, 0) costs nothing.
  struct Origin {
    std::int32_t x = 0;
    std::int32_t y = 0;
  };
  Origin originOf(CachedObject& window, double deadline);
  // The frame of a top-level window whose own extents are empty at (0, 0) (GTK 4's
  // minimized windows): its client window's, read afresh; absent when it has none.
  std::optional<ScreenRect> frameOfEmptyWindow(CachedObject& window, double deadline);
  // Whether the client window that shows a top-level window is iconified, read afresh (for
  // toolkits that do not set the `iconified` state); absent when it cannot be paired.
  std::optional<bool> clientHidden(CachedObject& window, double deadline);
  // The client windows, bottom to top, as they were the first time a hit test asked: read
  // once per run (the other operations read them afresh).
  const std::vector<ClientWindow>& windowsForHitTests();

 private:
  bool refreshApplications(double deadline);
  std::optional<std::string> knownBus(ProcessId pid) const;
  // Makes the processes' bus names known, where the registry lists them.
  void lookUp(const std::vector<ProcessId>& pids);
  std::optional<ProcessId> pidForBus(const std::string& bus);
  void fetchNames(const std::vector<ProcessId>& pids);
  RunningApplication describe(ProcessId pid, const std::vector<ClientWindow>& clients,
                              bool managed);
  // The desktop entry's name of the process's application: that of its first window, in
  // the order the window manager first mapped them, whose application id or WM_CLASS has
  // an entry (the same window whichever is in front, so the name does not change when the
  // user switches between its windows). Absent when none has.
  std::optional<std::string> desktopName(ProcessId pid, const std::vector<ClientWindow>& clients);
  // What matching needs of accessible windows (title and frame), after asking for their
  // names and extents: again when `reread`, else only where they were never read.
  // An application's accessible windows paired with the client windows of its process
  // (`known`, else read afresh): for each window, the index of its client, or absent.
  struct Pairing {
    std::vector<ClientWindow> clients;
    std::vector<std::optional<std::size_t>> pairs;
  };
  Pairing pairWindows(ProcessId pid, const std::vector<ObjectRef>& windows, bool reread,
                      const std::vector<ClientWindow>* known, double deadline);
  std::vector<AccessibleWindow> describeWindows(const std::vector<ObjectRef>& windows, bool reread,
                                                double deadline);

  Connections& connections_;
  ObjectCache& cache_;
  X11Desktop* display_ = nullptr;
  std::optional<std::vector<ObjectRef>> registryListing_;
  std::unordered_map<std::string, ProcessId> pidsByBus_;
  std::unordered_map<ProcessId, std::string> names_;
  std::optional<DesktopEntries> desktopEntries_;  // made when first asked
  std::unordered_set<ProcessId> unlisted_;  // not listed by the registry at the last refresh
  std::optional<std::vector<ClientWindow>> hitTestWindows_;
  std::unordered_map<ObjectRef, xcb_window_t, ObjectRefHash> shownBy_;
  std::unordered_map<ObjectRef, Origin, ObjectRefHash> origins_;
};

}  // namespace nevo::lin
