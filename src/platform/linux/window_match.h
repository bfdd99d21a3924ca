// Which X11 client window shows which accessible window of one application. The
// accessibility interface and the window system know nothing of each other's windows,
// so they are paired by what both can tell: the title and the rectangle on the screen.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/x11_desktop.h"

namespace nevo::lin {

// What the accessibility interface says of one top-level window.
struct AccessibleWindow {
  std::string title;
  std::optional<ScreenRect> frame;
};

// For each accessible window, the index in `clients` (the same application's client
// windows) of the one that shows it, or absent. Each client window is paired at most once;
// rounds in this order, each only among the windows still unpaired:
//   1. equal title and a rectangle equal to the client's frame or to the client itself;
//   2. a rectangle equal to the frame or the client, when exactly one client has it;
//   3. an equal title and a size equal to the client's (a toolkit whose coordinates are
//      relative to the window);
//   4. an equal title, when exactly one client has it;
//   5. the last window with the last client, when exactly one of each is left.
std::vector<std::optional<std::size_t>> matchWindows(const std::vector<AccessibleWindow>& windows,
                                                     const std::vector<ClientWindow>& clients);

// Where on the screen the coordinates of a top-level window start, when its toolkit gives
// them relative to the window, for a window whose accessible extents are at (0, 0) with
// this size, shown by `client`; absent when they are the screen's (a window really at the
// screen's corner):
// - extents of the client window's size: the client window's origin, for any toolkit;
// - for a toolkit known to give window-relative coordinates (`windowRelativeToolkit`),
//   extents smaller than the client window: the window draws its own border or shadow
//   inside it (client-side decorations), so its coordinates start that far in: by the
//   frame it says it draws (_GTK_FRAME_EXTENTS), else by half the difference on each axis.
std::optional<ScreenPoint> windowRelativeOrigin(double width, double height,
                                                const ClientWindow& client,
                                                bool windowRelativeToolkit);

}  // namespace nevo::lin
