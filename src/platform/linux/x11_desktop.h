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

#include "platform/platform.h"

namespace nevo::lin {

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
struct ClientWindow {
  xcb_window_t id = XCB_WINDOW_NONE;
  ProcessId pid = 0;          // _NET_WM_PID, 0 when unknown
  std::string title;          // _NET_WM_NAME, else WM_NAME (Latin-1 converted)
  ScreenRect client;          // the client window on the screen
  ScreenRect frame;           // the client grown by the window manager's frame extents
  bool hidden = false;        // iconified (_NET_WM_STATE_HIDDEN or WM_STATE Iconic)
  bool viewable = false;      // mapped and all its ancestors mapped
  std::string applicationId;  // _GTK_APPLICATION_ID
  std::string windowClass;    // the class part of WM_CLASS
};

class X11Desktop {
 public:
  // The display named by DISPLAY, or null when it cannot be opened or has no EWMH window
  // manager atoms.
  static std::unique_ptr<X11Desktop> connect();
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // _NET_ACTIVE_WINDOW, absent when none or unreadable.
  std::optional<xcb_window_t> activeWindow();
  // The accessibility bus address the bus launcher published on the root window
  // (AT_SPI_BUS), or "" when there is none.
  std::string accessibilityBusAddress();
  // _NET_WM_PID of one window, 0 when unknown.
  ProcessId windowPid(xcb_window_t window);
  // The managed client windows, bottom to top in stacking order, all read in one
  // round of requests.
  std::vector<ClientWindow> clientWindows();

  // Requests sent as a pager sends them (source indication 2). True when sent.
  bool requestActivation(xcb_window_t window);
  bool requestRaise(xcb_window_t window);
  bool requestIconify(xcb_window_t window);

  int descriptor() const;
  // Reads and drops pending events and errors.
  void drainEvents();

 private:
  X11Desktop(xcb_connection_t* connection, int screen);
  xcb_connection_t* connection_;
  int screen_;
  xcb_ewmh_connection_t ewmh_{};
  bool ewmhReady_ = false;
  xcb_atom_t applicationIdAtom_ = XCB_ATOM_NONE;
  xcb_atom_t wmStateAtom_ = XCB_ATOM_NONE;
  xcb_atom_t changeStateAtom_ = XCB_ATOM_NONE;
  xcb_atom_t busAddressAtom_ = XCB_ATOM_NONE;
};

// Latin-1 bytes as UTF-8.
std::string latin1ToUtf8(std::string_view text);

}  // namespace nevo::lin
