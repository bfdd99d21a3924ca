#include "platform/linux/x11_desktop.h"

#include <poll.h>
#include <xcb/res.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/linux/dbus_link.h"
#include "platform/linux/text_utf8.h"

namespace nevo::lin {
namespace {

// Most client windows read; a desktop with more is read in part (bottom of the stack
// dropped, so the windows on top stay).
constexpr std::size_t kClientWindowLimit = 512;
// Longest property value read, in 32-bit units.
constexpr std::uint32_t kPropertyLengthLimit = 16384;
// Longest title read, in 32-bit units: a title of 4097 characters of four bytes each still
// reads as longer than the longest the tool keeps, and a longer one costs no more.
constexpr std::uint32_t kTitleLengthLimit = 4098;
// ICCCM's WM_STATE value of an iconified window, and the WM_CHANGE_STATE request for it.
constexpr std::uint32_t kIconicState = 3;

template <class Reply>
struct FreeReply {
  void operator()(Reply* reply) const { std::free(reply); }
};
template <class Reply>
using Owned = std::unique_ptr<Reply, FreeReply<Reply>>;

void dropError(xcb_generic_error_t* error) {
  std::free(error);
}

xcb_intern_atom_cookie_t intern(xcb_connection_t* connection, const char* name) {
  return xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
}

xcb_atom_t internReply(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, &error));
  dropError(error);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string propertyString(xcb_get_property_reply_t* reply) {
  if (reply == nullptr || reply->format != 8) return {};
  const int length = xcb_get_property_value_length(reply);
  if (length <= 0) return {};
  const char* data = static_cast<const char*>(xcb_get_property_value(reply));
  std::string text(data, static_cast<std::size_t>(length));
  // Properties may hold several NUL-separated strings; the first one is the value.
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// The bytes of a property of 8-bit units and of the given type (any type when NONE).
std::optional<std::string> propertyBytes(xcb_get_property_reply_t* reply, xcb_atom_t type) {
  if (reply == nullptr || reply->format != 8) return std::nullopt;
  if (type != XCB_ATOM_NONE && reply->type != type) return std::nullopt;
  const int length = xcb_get_property_value_length(reply);
  if (length < 0) return std::nullopt;
  return std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(length));
}

}  // namespace

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

std::unique_ptr<X11Desktop> X11Desktop::connect(double deadline) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  std::shared_ptr<DisplayThread> thread = DisplayThread::start(display);
  if (!thread) return nullptr;
  int screen = 0;
  xcb_connection_t* connection = thread->connection(deadline, screen);
  if (connection == nullptr) return nullptr;
  std::unique_ptr<X11Desktop> desktop(
      new X11Desktop(std::move(thread), connection, screen, deadline));
  if (!desktop->ewmhReady_) return nullptr;
  return desktop;
}

X11Desktop::X11Desktop(std::shared_ptr<DisplayThread> thread, xcb_connection_t* connection,
                       int screen, double deadline)
    : thread_(std::move(thread)), connection_(connection), screen_(screen) {
  if (xcb_connection_has_error(connection_)) return;
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
  const xcb_intern_atom_cookie_t applicationId = intern(connection_, "_GTK_APPLICATION_ID");
  const xcb_intern_atom_cookie_t drawnFrame = intern(connection_, "_GTK_FRAME_EXTENTS");
  const xcb_intern_atom_cookie_t wmState = intern(connection_, "WM_STATE");
  const xcb_intern_atom_cookie_t changeState = intern(connection_, "WM_CHANGE_STATE");
  const xcb_intern_atom_cookie_t busAddress = intern(connection_, "AT_SPI_BUS");
  // Asked with the atoms, so that knowing whether the server has it costs no round trip.
  xcb_prefetch_extension_data(connection_, &xcb_res_id);
  if (!answered(deadline)) {
    // The atoms' replies will not be read: what xcb_ewmh_init_atoms allocated goes here.
    std::free(cookies);
    xcb_ewmh_connection_wipe(&ewmh_);
    return;
  }
  if (cookies != nullptr) {
    xcb_generic_error_t* error = nullptr;
    ewmhAtoms_ = xcb_ewmh_init_atoms_replies(&ewmh_, cookies, &error) != 0;
    dropError(error);
  }
  applicationIdAtom_ = internReply(connection_, applicationId);
  drawnFrameAtom_ = internReply(connection_, drawnFrame);
  wmStateAtom_ = internReply(connection_, wmState);
  changeStateAtom_ = internReply(connection_, changeState);
  busAddressAtom_ = internReply(connection_, busAddress);
  // Its reply is in already (it was asked before the wait's last request).
  const xcb_query_extension_reply_t* resource = xcb_get_extension_data(connection_, &xcb_res_id);
  if (resource != nullptr && resource->present) resourceOpcode_ = resource->major_opcode;
  ewmhReady_ = ewmhAtoms_ && screen_ >= 0 && screen_ < ewmh_.nb_screens;
}

bool X11Desktop::answered() {
  return answered(monotonicNow() + kDisplayReplySeconds);
}

bool X11Desktop::answered(double deadline) {
  // Replies come in the order of their requests: once the reply to a request sent last has
  // come, xcb holds the replies to every earlier one, and its blocking reads return at once.
  if (silent_) return false;
  // xcb's own waits (writing what the server does not take, reading the rest of a reply
  // that came in part) end at the deadline too: the display thread shuts the socket down.
  thread_->arm(deadline);
  const bool arrived = awaitLast(deadline);
  thread_->disarm();
  if (!arrived) silent_ = true;
  return arrived;
}

bool X11Desktop::awaitLast(double deadline) {
  const xcb_get_input_focus_cookie_t last = xcb_get_input_focus(connection_);
  if (xcb_flush(connection_) <= 0) return false;
  const int descriptor = xcb_get_file_descriptor(connection_);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    // Reads what the socket holds, without blocking; true once that reply (or the
    // connection's end) is there.
    const bool arrived = xcb_poll_for_reply(connection_, last.sequence, &reply, &error) != 0;
    std::free(reply);
    dropError(error);
    if (xcb_connection_has_error(connection_)) return false;
    if (arrived) return true;
    const double left = deadline - monotonicNow();
    if (!(left > 0)) return false;
    pollfd ready{descriptor, POLLIN, 0};
    ::poll(&ready, 1, static_cast<int>(std::ceil(std::fmin(left, 1.0) * 1000)));
  }
}

X11Desktop::~X11Desktop() {
  if (ewmhAtoms_) xcb_ewmh_connection_wipe(&ewmh_);
  thread_->stop();
  xcb_disconnect(connection_);
}

std::optional<xcb_window_t> X11Desktop::activeWindow() {
  if (silent_) return std::nullopt;
  const xcb_get_property_cookie_t cookie = xcb_ewmh_get_active_window(&ewmh_, screen_);
  if (!answered()) return std::nullopt;
  xcb_window_t window = XCB_WINDOW_NONE;
  xcb_generic_error_t* error = nullptr;
  const bool read = xcb_ewmh_get_active_window_reply(&ewmh_, cookie, &window, &error) != 0;
  dropError(error);
  if (!read || window == XCB_WINDOW_NONE) return std::nullopt;
  return window;
}

std::string X11Desktop::accessibilityBusAddress() {
  if (busAddressAtom_ == XCB_ATOM_NONE || silent_) return {};
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection_, 0, ewmh_.screens[screen_]->root, busAddressAtom_,
                       XCB_ATOM_STRING, 0, kPropertyLengthLimit);
  if (!answered()) return {};
  xcb_generic_error_t* error = nullptr;
  Owned<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, &error));
  dropError(error);
  return propertyString(reply.get());
}

ProcessId X11Desktop::windowPid(xcb_window_t window) {
  if (silent_) return 0;
  const xcb_get_property_cookie_t cookie = xcb_ewmh_get_wm_pid(&ewmh_, window);
  if (!answered()) return 0;
  std::uint32_t pid = 0;
  xcb_generic_error_t* error = nullptr;
  const bool read = xcb_ewmh_get_wm_pid_reply(&ewmh_, cookie, &pid, &error) != 0;
  dropError(error);
  if (!read || pid == 0 || pid > 0x7fffffffu) return resourcePids({window})[0];
  return static_cast<ProcessId>(pid);
}

std::vector<ProcessId> X11Desktop::resourcePids(const std::vector<xcb_window_t>& windows) {
  std::vector<ProcessId> pids(windows.size(), 0);
  if (resourceOpcode_ == 0 || silent_ || windows.empty()) return pids;
  // One question per window: the local process of the client that owns that resource.
  std::vector<xcb_res_query_client_ids_cookie_t> cookies;
  cookies.reserve(windows.size());
  for (const xcb_window_t window : windows) {
    // The question is the first member of a client id value: which client, which kinds.
    const xcb_res_client_id_value_t asked{{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID}, 0};
    [[maybe_unused]] const auto& [client, length] = asked;
    cookies.push_back(xcb_res_query_client_ids(connection_, 1, &client));
  }
  if (!answered()) return pids;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    xcb_generic_error_t* error = nullptr;
    Owned<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(connection_, cookies[i], &error));
    dropError(error);
    if (!reply) continue;
    for (xcb_res_client_id_value_iterator_t it = xcb_res_query_client_ids_ids_iterator(reply.get());
         it.rem > 0; xcb_res_client_id_value_next(&it)) {
      // The server answers only the kinds it knows for that client: a remote client, or
      // one it cannot see the process of, has no process value.
      [[maybe_unused]] const auto& [client, length] = *it.data;
      if ((client.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) == 0 ||
          xcb_res_client_id_value_value_length(it.data) != 1) {
        continue;
      }
      const std::uint32_t pid = *xcb_res_client_id_value_value(it.data);
      if (pid > 0 && pid <= 0x7fffffffu) pids[i] = static_cast<ProcessId>(pid);
      break;
    }
  }
  return pids;
}

std::vector<ClientWindow> X11Desktop::clientWindows(std::optional<ProcessId> of) {
  if (silent_) return {};
  // Both lists are asked for at once: the stacking order gives the windows' order, the
  // mapping order each window's managedOrder (and the order, without the other).
  const xcb_get_property_cookie_t stacking = xcb_ewmh_get_client_list_stacking(&ewmh_, screen_);
  const xcb_get_property_cookie_t mapping = xcb_ewmh_get_client_list(&ewmh_, screen_);
  if (!answered()) return {};
  xcb_ewmh_get_windows_reply_t list{};
  xcb_generic_error_t* error = nullptr;
  std::vector<xcb_window_t> ids;
  std::vector<xcb_window_t> mapped;
  const bool stacked = xcb_ewmh_get_client_list_stacking_reply(&ewmh_, stacking, &list, &error);
  if (stacked) {
    ids.assign(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
  }
  dropError(error), error = nullptr;
  if (xcb_ewmh_get_client_list_reply(&ewmh_, mapping, &list, &error)) {
    mapped.assign(list.windows, list.windows + list.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&list);
  }
  dropError(error), error = nullptr;
  // Without a stacking order, the order of mapping stands in for it.
  if (!stacked) ids = mapped;
  if (ids.size() > kClientWindowLimit) ids.erase(ids.begin(), ids.end() - kClientWindowLimit);
  const auto managedOrder = [&](xcb_window_t id) {
    const auto at = std::find(mapped.begin(), mapped.end(), id);
    return at != mapped.end() ? static_cast<std::size_t>(at - mapped.begin()) : mapped.size();
  };
  if (of) {
    std::vector<xcb_get_property_cookie_t> pids;
    pids.reserve(ids.size());
    for (const xcb_window_t id : ids) pids.push_back(xcb_ewmh_get_wm_pid(&ewmh_, id));
    if (!answered()) return {};
    std::vector<xcb_window_t> own;
    std::vector<xcb_window_t> unknown;  // no _NET_WM_PID
    for (std::size_t i = 0; i < ids.size(); ++i) {
      std::uint32_t pid = 0;
      const bool read = xcb_ewmh_get_wm_pid_reply(&ewmh_, pids[i], &pid, &error) != 0;
      dropError(error), error = nullptr;
      if (read && pid == static_cast<std::uint32_t>(*of)) own.push_back(ids[i]);
      if (!read || pid == 0) unknown.push_back(ids[i]);
    }
    if (!unknown.empty()) {
      const std::vector<ProcessId> owners = resourcePids(unknown);
      for (std::size_t i = 0; i < unknown.size(); ++i) {
        if (owners[i] == *of) own.push_back(unknown[i]);
      }
      // Back in stacking order.
      std::vector<xcb_window_t> ordered;
      for (const xcb_window_t id : ids) {
        if (std::find(own.begin(), own.end(), id) != own.end()) ordered.push_back(id);
      }
      own = std::move(ordered);
    }
    ids = std::move(own);
  }

  const xcb_window_t root = ewmh_.screens[screen_]->root;
  struct Cookies {
    xcb_get_property_cookie_t pid, name, legacyName, extents, state, iccState, windowClass,
        applicationId, drawnFrame;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_window_attributes_cookie_t attributes;
  };
  // Every request goes out before the first reply is awaited: one round trip for all.
  std::vector<Cookies> cookies;
  cookies.reserve(ids.size());
  for (const xcb_window_t id : ids) {
    cookies.push_back(Cookies{
        // The process of a window read for one process is known already.
        of ? xcb_get_property_cookie_t{} : xcb_ewmh_get_wm_pid(&ewmh_, id),
        // Titles are read up to the length limit, never whole: any client may set one.
        xcb_get_property(connection_, 0, id, ewmh_._NET_WM_NAME, ewmh_.UTF8_STRING, 0,
                         kTitleLengthLimit),
        xcb_get_property(connection_, 0, id, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         kTitleLengthLimit),
        xcb_ewmh_get_frame_extents(&ewmh_, id),
        xcb_ewmh_get_wm_state(&ewmh_, id),
        xcb_get_property(connection_, 0, id, wmStateAtom_, wmStateAtom_, 0, 2),
        xcb_icccm_get_wm_class(connection_, id),
        xcb_get_property(connection_, 0, id, applicationIdAtom_, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         kPropertyLengthLimit),
        xcb_get_property(connection_, 0, id, drawnFrameAtom_, XCB_ATOM_CARDINAL, 0, 4),
        xcb_get_geometry(connection_, id),
        xcb_translate_coordinates(connection_, id, root, 0, 0),
        xcb_get_window_attributes(connection_, id),
    });
  }
  if (!answered()) return {};

  std::vector<ClientWindow> windows;
  windows.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const Cookies& c = cookies[i];
    ClientWindow window;
    window.id = ids[i];

    std::uint32_t pid = 0;
    if (of) {
      window.pid = *of;
    } else if (xcb_ewmh_get_wm_pid_reply(&ewmh_, c.pid, &pid, &error) && pid <= 0x7fffffffu) {
      window.pid = static_cast<ProcessId>(pid);
    }
    dropError(error), error = nullptr;

    Owned<xcb_get_property_reply_t> name(xcb_get_property_reply(connection_, c.name, &error));
    dropError(error), error = nullptr;
    if (const std::optional<std::string> raw = propertyBytes(name.get(), ewmh_.UTF8_STRING)) {
      window.title = validUtf8(*raw);
    }
    Owned<xcb_get_property_reply_t> legacy(
        xcb_get_property_reply(connection_, c.legacyName, &error));
    dropError(error), error = nullptr;
    if (const std::optional<std::string> raw = propertyBytes(legacy.get(), XCB_ATOM_NONE);
        raw && window.title.empty()) {
      window.title = legacy->type == ewmh_.UTF8_STRING ? validUtf8(*raw)
                     : legacy->type == XCB_ATOM_STRING ? latin1ToUtf8(*raw)
                                                       : std::string();
    }
    const std::size_t nul = window.title.find('\0');
    if (nul != std::string::npos) window.title.resize(nul);

    xcb_ewmh_get_extents_reply_t extents{};
    const bool framed = xcb_ewmh_get_frame_extents_reply(&ewmh_, c.extents, &extents, &error);
    dropError(error), error = nullptr;

    xcb_ewmh_get_atoms_reply_t states{};
    if (xcb_ewmh_get_wm_state_reply(&ewmh_, c.state, &states, &error)) {
      window.hidden = std::find(states.atoms, states.atoms + states.atoms_len,
                                ewmh_._NET_WM_STATE_HIDDEN) != states.atoms + states.atoms_len;
      xcb_ewmh_get_atoms_reply_wipe(&states);
    }
    dropError(error), error = nullptr;
    Owned<xcb_get_property_reply_t> iccState(
        xcb_get_property_reply(connection_, c.iccState, &error));
    dropError(error), error = nullptr;
    if (iccState && iccState->format == 32 && xcb_get_property_value_length(iccState.get()) >= 4) {
      const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(iccState.get()));
      window.hidden = window.hidden || value[0] == kIconicState;
    }

    xcb_icccm_get_wm_class_reply_t windowClass{};
    if (xcb_icccm_get_wm_class_reply(connection_, c.windowClass, &windowClass, &error)) {
      if (windowClass.class_name != nullptr) {
        window.windowClass = latin1ToUtf8(windowClass.class_name);
      }
      if (windowClass.instance_name != nullptr) {
        window.windowInstance = latin1ToUtf8(windowClass.instance_name);
      }
      xcb_icccm_get_wm_class_reply_wipe(&windowClass);
    }
    dropError(error), error = nullptr;
    Owned<xcb_get_property_reply_t> applicationId(
        xcb_get_property_reply(connection_, c.applicationId, &error));
    dropError(error), error = nullptr;
    window.applicationId = validUtf8(propertyString(applicationId.get()));
    Owned<xcb_get_property_reply_t> drawnFrame(
        xcb_get_property_reply(connection_, c.drawnFrame, &error));
    dropError(error), error = nullptr;
    if (drawnFrame && drawnFrame->type == XCB_ATOM_CARDINAL && drawnFrame->format == 32 &&
        xcb_get_property_value_length(drawnFrame.get()) == 16) {
      const auto* sides = static_cast<const std::uint32_t*>(xcb_get_property_value(drawnFrame.get()));
      window.drawnFrame = Insets{double(sides[0]), double(sides[1]), double(sides[2]),
                                 double(sides[3])};
    }

    Owned<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection_, c.geometry, &error));
    dropError(error), error = nullptr;
    Owned<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(connection_, c.origin, &error));
    dropError(error), error = nullptr;
    Owned<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection_, c.attributes, &error));
    dropError(error), error = nullptr;
    if (!geometry || !origin) continue;  // the window went away meanwhile
    window.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    window.client = ScreenRect{double(origin->dst_x), double(origin->dst_y),
                               double(geometry->width), double(geometry->height)};
    window.frame = window.client;
    if (framed) {
      window.frame.x -= extents.left;
      window.frame.y -= extents.top;
      window.frame.width += double(extents.left) + extents.right;
      window.frame.height += double(extents.top) + extents.bottom;
    }
    window.managedOrder = managedOrder(window.id);
    windows.push_back(std::move(window));
  }
  if (!of) fillResourcePids(windows);
  return windows;
}

void X11Desktop::fillResourcePids(std::vector<ClientWindow>& windows) {
  std::vector<xcb_window_t> unknown;
  for (const ClientWindow& window : windows) {
    if (window.pid == 0) unknown.push_back(window.id);
  }
  if (unknown.empty()) return;
  const std::vector<ProcessId> owners = resourcePids(unknown);
  std::size_t next = 0;
  for (ClientWindow& window : windows) {
    if (window.pid == 0) window.pid = owners[next++];
  }
}

bool X11Desktop::requestActivation(xcb_window_t window) {
  const xcb_window_t current = activeWindow().value_or(XCB_WINDOW_NONE);
  if (silent_) return false;
  xcb_ewmh_request_change_active_window(&ewmh_, screen_, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                        XCB_CURRENT_TIME, current);
  return xcb_flush(connection_) > 0 && !xcb_connection_has_error(connection_);
}

bool X11Desktop::requestRaise(xcb_window_t window) {
  if (silent_) return false;
  xcb_ewmh_request_restack_window(&ewmh_, screen_, window, XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE);
  return xcb_flush(connection_) > 0 && !xcb_connection_has_error(connection_);
}

bool X11Desktop::requestIconify(xcb_window_t window) {
  if (silent_) return false;
  // ICCCM's request to iconify: WM_CHANGE_STATE with IconicState, sent to the root.
  const std::uint32_t data[] = {kIconicState};
  xcb_ewmh_send_client_message(connection_, window, ewmh_.screens[screen_]->root, changeStateAtom_,
                               1, data);
  return xcb_flush(connection_) > 0 && !xcb_connection_has_error(connection_);
}

int X11Desktop::descriptor() const {
  return xcb_get_file_descriptor(connection_);
}

void X11Desktop::drainEvents() {
  // Reading events may wait for the rest of one that came in part, like a reply.
  if (silent_) return;
  thread_->arm(monotonicNow() + kDisplayReplySeconds);
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
  if (thread_->disarm()) silent_ = true;
}

}  // namespace nevo::lin
