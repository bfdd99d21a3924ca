// The X11 side of the Linux backend, through xcb with its EWMH and ICCCM helpers: the
// managed top-level windows (stacking order, process, title, frame, state), the active
// window, and the requests a pager sends to activate, raise and iconify them.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/display_thread.h"
#include "platform/platform.h"

namespace nevo::lin {

struct ScreenPoint {
  double x = 0;
  double y = 0;
};

struct ScreenRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
  bool contains(double px, double py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
};

// One client window the window manager lists.
// Widths of the four sides of a border.
struct Insets {
  double left = 0, right = 0, top = 0, bottom = 0;
};

struct ClientWindow {
  xcb_window_t id = XCB_WINDOW_NONE;
  ProcessId pid = 0;          // _NET_WM_PID, else X-Resource's; 0 when unknown
  std::string title;          // _NET_WM_NAME, else WM_NAME (Latin-1 converted)
  ScreenRect client;          // the client window on the screen
  ScreenRect frame;           // the client grown by the window manager's frame extents
  bool hidden = false;        // iconified (_NET_WM_STATE_HIDDEN or WM_STATE Iconic)
  bool viewable = false;      // mapped and all its ancestors mapped
  std::string applicationId;  // _GTK_APPLICATION_ID
  // The border and shadow a window draws itself inside its client window (client-side
  // decorations), as it says (_GTK_FRAME_EXTENTS); absent when it does not say.
  std::optional<Insets> drawnFrame;
  std::string windowClass;    // the class part of WM_CLASS
  // The instance part of WM_CLASS.
  std::string windowInstance;
  // The window's place in the window manager's list of managed windows in the order they
  // were first mapped (_NET_CLIENT_LIST): unlike the stacking order, it does not change
  // when a window is raised.
  std::size_t managedOrder = 0;
};

// Every exchange with the X server is bounded: requests go out together, and their replies
// are awaited for at most kDisplayReplySeconds (connecting: until the caller's deadline). A
// server that misses that (stopped, or held by another client's server grab) is not waited
// for again in this run: what is read from it from then on is read as absent.
inline constexpr double kDisplayReplySeconds = 0.25;

class X11Desktop {
 public:
  // The display named by DISPLAY, or null when it cannot be opened by `deadline` (seconds on
  // the monotonic clock) or has no EWMH window manager atoms.
  static std::unique_ptr<X11Desktop> connect(double deadline);
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // _NET_ACTIVE_WINDOW, absent when none or unreadable.
  std::optional<xcb_window_t> activeWindow();
  // The accessibility bus address the bus launcher published on the root window
  // (AT_SPI_BUS), or "" when there is none.
  std::string accessibilityBusAddress();
  // The process of one window: _NET_WM_PID, else what the X-Resource extension knows of the
  // client that made the window; 0 when unknown.
  ProcessId windowPid(xcb_window_t window);
  // The managed client windows, bottom to top in stacking order, all read in one round of
  // requests; with `of`, only that process's windows, their processes read first (on a busy
  // desktop a window's other properties are then read for a few windows, not all). A
  // window without _NET_WM_PID has the process the X-Resource extension gives (one more
  // round, only when there is such a window).
  std::vector<ClientWindow> clientWindows(std::optional<ProcessId> of = std::nullopt);

  // Whether the server offers the X-Resource extension (the processes of its clients).
  bool resourceExtension() const { return resourceOpcode_ != 0; }

  // Requests sent as a pager sends them (source indication 2). True when sent.
  bool requestActivation(xcb_window_t window);
  bool requestRaise(xcb_window_t window);
  bool requestIconify(xcb_window_t window);

  int descriptor() const;
  // Reads and drops pending events and errors.
  void drainEvents();

 private:
  X11Desktop(std::shared_ptr<DisplayThread> thread, xcb_connection_t* connection, int screen,
             double deadline);
  // Waits, until `deadline` at the latest (by default kDisplayReplySeconds from now), for
  // the replies to every request sent so far; false when they did not all come (and from
  // then on at once).
  bool answered(double deadline);
  bool answered();
  // The wait itself: false when the reply to a request sent last did not come by then.
  bool awaitLast(double deadline);
  // The processes of the clients that made these windows, from the X-Resource extension, in
  // one round (0 where the server does not know, or has no such extension).
  std::vector<ProcessId> resourcePids(const std::vector<xcb_window_t>& windows);
  // Gives the windows without _NET_WM_PID the processes X-Resource knows.
  void fillResourcePids(std::vector<ClientWindow>& windows);

  std::shared_ptr<DisplayThread> thread_;
  xcb_connection_t* connection_;
  int screen_;
  bool silent_ = false;  // the server missed a wait: no more waits this run
  xcb_ewmh_connection_t ewmh_{};
  bool ewmhAtoms_ = false;  // the EWMH atoms were read (ewmh_ holds what they allocated)
  bool ewmhReady_ = false;  // and the screen is one of theirs
  xcb_atom_t applicationIdAtom_ = XCB_ATOM_NONE;
  xcb_atom_t drawnFrameAtom_ = XCB_ATOM_NONE;
  xcb_atom_t wmStateAtom_ = XCB_ATOM_NONE;
  xcb_atom_t changeStateAtom_ = XCB_ATOM_NONE;
  xcb_atom_t busAddressAtom_ = XCB_ATOM_NONE;
  std::uint8_t resourceOpcode_ = 0;  // the X-Resource extension's, 0 when it has none
};

// Latin-1 bytes as UTF-8.
std::string latin1ToUtf8(std::string_view text);

}  // namespace nevo::lin
