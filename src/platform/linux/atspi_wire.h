// The AT-SPI2 D-Bus protocol as the Linux backend speaks it: names, the calls it makes
// and the shapes of their replies. Builders return an empty call when an argument is not
// valid D-Bus syntax; parsers return absent for a reply of any other shape (an error reply
// included). Strings are handed on as valid UTF-8.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/dbus_wire.h"

namespace nevo::lin {

inline constexpr std::string_view kAccessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr std::string_view kComponentInterface = "org.a11y.atspi.Component";
inline constexpr std::string_view kTextInterface = "org.a11y.atspi.Text";
inline constexpr std::string_view kValueInterface = "org.a11y.atspi.Value";
inline constexpr std::string_view kCollectionInterface = "org.a11y.atspi.Collection";
inline constexpr std::string_view kApplicationInterface = "org.a11y.atspi.Application";
inline constexpr std::string_view kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr std::string_view kRegistryName = "org.a11y.atspi.Registry";
inline constexpr std::string_view kRootPath = "/org/a11y/atspi/accessible/root";
inline constexpr std::string_view kRegistryPath = "/org/a11y/atspi/registry";
inline constexpr std::string_view kRegistryInterface = "org.a11y.atspi.Registry";
inline constexpr std::string_view kNullPath = "/org/a11y/atspi/null";
inline constexpr std::string_view kBusDaemonName = "org.freedesktop.DBus";
inline constexpr std::string_view kBusDaemonPath = "/org/freedesktop/DBus";
inline constexpr std::string_view kBusDaemonInterface = "org.freedesktop.DBus";
inline constexpr std::string_view kLauncherName = "org.a11y.Bus";
inline constexpr std::string_view kLauncherPath = "/org/a11y/bus";
// The desktop's accessibility switch, on the launcher's object.
inline constexpr std::string_view kStatusInterface = "org.a11y.Status";

// One accessible object: the bus name of its application and its object path.
struct ObjectRef {
  std::string bus;
  std::string path;
  friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
  // The protocol's "no object": an empty name or the null path.
  bool null() const { return bus.empty() || path == kNullPath; }
};

struct ObjectRefHash {
  std::size_t operator()(const ObjectRef& ref) const {
    return std::hash<std::string>()(ref.bus) * 31 + std::hash<std::string>()(ref.path);
  }
};

// The coordinate at which GTK places what it does not draw.
inline constexpr std::int32_t kNotDrawn = std::numeric_limits<std::int32_t>::min();

// Screen rectangle of an accessible, in pixels.
struct Extents {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const Extents&, const Extents&) = default;
  bool contains(double px, double py) const {
    return px >= x && py >= y && px < double(x) + width && py < double(y) + height;
  }
};

// Extents that say "not drawn" rather than where: GTK puts what it does not draw (the items
// of closed menus, hidden popovers, pages not shown) at the most negative coordinates with
// its size; Firefox answers (-1, -1) with the size -1 × -1. A negative size is no frame.
constexpr bool notDrawn(const Extents& extents) {
  return extents.x == kNotDrawn || extents.y == kNotDrawn || extents.width < 0 ||
         extents.height < 0;
}

// The state set: bit n is state n of the protocol's numbering.
using StateSet = std::uint64_t;
enum class State : unsigned {
  active = 1,
  checked = 4,
  defunct = 6,
  enabled = 8,
  focused = 12,
  iconified = 15,
  multiLine = 17,
  pressed = 20,
  selected = 23,
  sensitive = 24,
  showing = 25,
  visible = 30,
};
constexpr bool hasState(StateSet set, State state) {
  return ((set >> static_cast<unsigned>(state)) & 1u) != 0;
}
// What the user can use: GTK 4.8 sets `sensitive` alone there; GTK 3, Qt and the browsers
// set both.
constexpr bool isEnabled(StateSet set) {
  return hasState(set, State::enabled) || hasState(set, State::sensitive);
}
constexpr StateSet stateBit(State state) {
  return StateSet{1} << static_cast<unsigned>(state);
}

// Calls on an accessible object. These, each asking for one thing, are what every toolkit
// serves; there is deliberately no writer of `Properties.GetAll`, which Qt 5 and Qt 6
// answer by crashing.
Call getRoleCall(const ObjectRef& object);
Call getStateCall(const ObjectRef& object);
// The object's attributes (a dictionary of strings); asked only to wake a tree (Chromium).
Call getAttributesCall(const ObjectRef& object);
Call getExtentsCall(const ObjectRef& object);  // screen coordinates
Call getChildrenCall(const ObjectRef& object);
Call getPropertyCall(const ObjectRef& object, std::string_view interface,
                     std::string_view property);
// The interfaces the object offers (Accessible.GetInterfaces).
Call getInterfacesCall(const ObjectRef& object);
// Characters [0, count) of the Text interface.
Call getTextCall(const ObjectRef& object, std::int32_t count);
// The first `count` objects below `object` (itself excluded) whose states include every
// state of `states`, in the application's order; `traverse` walks the whole subtree,
// otherwise only the children.
Call getMatchesCall(const ObjectRef& object, StateSet states, std::int32_t count, bool traverse);
Call getAccessibleAtPointCall(const ObjectRef& object, std::int32_t x, std::int32_t y);
Call getApplicationBusAddressCall(const ObjectRef& application);
// Calls on the bus daemon and the launcher of the accessibility bus.
Call helloCall();
Call connectionPidCall(std::string_view busName);
Call accessibilityBusAddressCall();
// A listener for one kind of event, registered with the registry for this connection (the
// registry drops it when the connection closes), with no properties and from every
// application.
Call registerEventCall(std::string_view event);
// The launcher's `IsEnabled` (org.a11y.Status): whether the desktop's accessibility is on.
Call accessibilityEnabledCall();

// Replies.
bool isError(const ReceivedMessage& reply);
std::optional<std::uint32_t> uint32Reply(const ReceivedMessage& reply);  // "u"
std::optional<std::string> stringReply(const ReceivedMessage& reply);    // "s"
std::optional<StateSet> stateReply(const ReceivedMessage& reply);        // "au"
std::optional<Extents> extentsReply(const ReceivedMessage& reply);       // "(iiii)"
std::optional<ObjectRef> referenceReply(const ReceivedMessage& reply);   // "(so)"
std::optional<std::vector<ObjectRef>> referencesReply(const ReceivedMessage& reply,
                                                      std::size_t limit);
std::optional<std::vector<std::string>> stringsReply(const ReceivedMessage& reply,
                                                     std::size_t limit);  // "as"
// Properties.Get replies: "v" holding the type named.
std::optional<std::string> variantStringReply(const ReceivedMessage& reply);
std::optional<std::int32_t> variantInt32Reply(const ReceivedMessage& reply);
std::optional<double> variantDoubleReply(const ReceivedMessage& reply);
std::optional<ObjectRef> variantReferenceReply(const ReceivedMessage& reply);
std::optional<bool> variantBooleanReply(const ReceivedMessage& reply);

}  // namespace nevo::lin
