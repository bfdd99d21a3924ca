#include "platform/linux/linux_platform.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "platform/backend.h"
#include "platform/linux/atspi_roles.h"
#include "platform/linux/text_utf8.h"
#include "platform/linux/window_match.h"
#include "platform/posix/posix_process.h"

namespace nevo {

std::unique_ptr<Platform> makePlatform() {
  return std::make_unique<lin::LinuxPlatform>();
}

namespace lin {

// ---------------------------------------------------------------------------------------
// The per-object cache.
//
// Every fact the backend reads about an object sits in a slot. A read of an attribute uses
// a slot's value only once: the next read of the same attribute asks the application
// again, so that a command re-reading something (a window's frame, the focus) sees it as
// it is now. Read-ahead fills slots before the core asks; the core then takes them as if
// it had asked itself. A few facts are taken once per run and kept (role, identifier,
// children, parent): they do not change for an object.

enum class SlotState : std::uint8_t { idle, pending, ready, failed };

template <class T>
struct Slot {
  SlotState state = SlotState::idle;
  std::optional<T> value;    // the last value read
  std::uint32_t served = 0;  // attributes that have already been given this value
};

// The attributes a slot's value is handed to, one bit each.
enum AttributeBit : std::uint32_t {
  kBitRole = 1u << 0,
  kBitPosition = 1u << 1,
  kBitSize = 1u << 2,
  kBitEnabled = 1u << 3,
  kBitIdentifier = 1u << 4,
  kBitTitle = 1u << 5,
  kBitDescription = 1u << 6,
  kBitValue = 1u << 7,
  kBitMinimized = 1u << 8,
};

// An element's children as read: the first ones (at most the listing limit) and how many
// the element reported.
struct Listing {
  std::vector<ObjectRef> children;
  std::size_t total = 0;
};

struct Node {
  ObjectRef ref;
  Slot<std::uint32_t> role;  // kept for the run
  Slot<StateSet> states;
  Slot<Extents> extents;
  Slot<AccessibleProperties> properties;  // name, description, identifier, child count
  Slot<std::string> identifier;           // kept; read alone while the role is not known
  Slot<std::int32_t> characterCount;      // of long texts, before their contents
  Slot<std::string> text;
  Slot<double> number;
  Slot<Listing> children;                 // kept for the run
  Slot<ObjectRef> parent;                 // kept for the run
  std::optional<ObjectRef> listedParent;  // the element whose children listed this one
  bool readAhead = false;                 // the walk's read-ahead has asked for this element
  bool walked = false;                    // children get read ahead once listed
};

namespace {

// Whether a slot must be asked again before attribute `bit` may take it. Slots kept for
// the run (`bit` 0) are asked once.
template <class T>
bool stale(const Slot<T>& slot, std::uint32_t bit) {
  if (slot.state == SlotState::pending) return false;
  if (slot.state == SlotState::idle) return true;
  return bit != 0 && (slot.served & bit) != 0;
}

template <class T>
bool pending(const Slot<T>& slot) {
  return slot.state == SlotState::pending;
}

// Serves the slot's value to attribute `bit`: the value, or absent when the read failed or
// is still out.
template <class T>
const T* take(Slot<T>& slot, std::uint32_t bit) {
  if (slot.state != SlotState::ready || !slot.value) return nullptr;
  slot.served |= bit;
  return &*slot.value;
}

template <class T>
void markFailedRead(Slot<T>& slot, std::uint32_t bit) {
  if (slot.state == SlotState::failed) slot.served |= bit;
}

// Texts that may be long are read in two steps: their length, then at most the limit.
bool longText(std::uint32_t role) {
  const std::string_view name = atspiRoleName(role);
  return name == "text" || name == "terminal" || name == "document text" || name == "paragraph" ||
         name == "editbar";
}

AxStatus failureOf(SlotState state) {
  return state == SlotState::pending ? AxStatus::cannotComplete : AxStatus::noValue;
}

AttributeRead success(AttrValue value) {
  return AttributeRead{AxStatus::success, std::move(value)};
}

bool processExists(ProcessId pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string processName(ProcessId pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// What a one-off call brought back. Shared with the call's handler, which may run after
// the caller has stopped waiting.
template <class T>
struct Outcome {
  bool answered = false;
  std::optional<T> value;
};

enum class Attr {
  role,
  subrole,
  protectedContent,
  position,
  size,
  enabled,
  identifier,
  title,
  description,
  value,
  minimized,
  children,
  parent,
  windows,
  focusedWindow,
  focusedElement,
  unsupported,
};

Attr attrOf(std::string_view name) {
  static constexpr std::pair<std::string_view, Attr> kNames[] = {
      {"AXRole", Attr::role},
      {"AXSubrole", Attr::subrole},
      {"AXProtectedContent", Attr::protectedContent},
      {"AXPosition", Attr::position},
      {"AXSize", Attr::size},
      {"AXEnabled", Attr::enabled},
      {"AXIdentifier", Attr::identifier},
      {"AXTitle", Attr::title},
      {"AXDescription", Attr::description},
      {"AXValue", Attr::value},
      {"AXMinimized", Attr::minimized},
      {"AXChildren", Attr::children},
      {"AXParent", Attr::parent},
      {"AXWindows", Attr::windows},
      {"AXFocusedWindow", Attr::focusedWindow},
      {"AXFocusedUIElement", Attr::focusedElement},
  };
  for (const auto& [text, attr] : kNames) {
    if (text == name) return attr;
  }
  return Attr::unsupported;
}

bool textAttr(Attr attr) {
  return attr == Attr::title || attr == Attr::description || attr == Attr::value;
}

// A reference as received: an object of the same application may come without a bus name
// over the application's own socket. Absent when it names nothing usable.
std::optional<ObjectRef> usable(ObjectRef ref, const std::string& bus) {
  if (ref.bus.empty()) ref.bus = bus;
  if (ref.null() || !validBusName(ref.bus) || !validObjectPath(ref.path)) return std::nullopt;
  return ref;
}

}  // namespace

bool LinuxElement::sameObject(const ElementImpl& other) const {
  const auto* that = dynamic_cast<const LinuxElement*>(&other);
  if (that == nullptr) return false;
  if (kind == Kind::systemWide || that->kind == Kind::systemWide) return kind == that->kind;
  if (!ref.bus.empty() && !that->ref.bus.empty()) return ref == that->ref;
  // Applications that are not accessible are told apart by their process.
  return kind == Kind::application && that->kind == Kind::application && ref.bus.empty() &&
         that->ref.bus.empty() && pid == that->pid;
}

LinuxPlatform::LinuxPlatform() = default;
LinuxPlatform::~LinuxPlatform() = default;

// ---------------------------------------------------------------------------------------
// Connections.

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The session bus's address: the environment's, else the per-user bus of the runtime
// directory.
std::string sessionBusAddress() {
  std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
  if (!address.empty()) return address;
  const std::string runtime = environment("XDG_RUNTIME_DIR");
  if (runtime.empty()) return {};
  const std::string path = runtime + "/bus";
  if (std::ifstream(path).good() || ::access(path.c_str(), F_OK) == 0) return "unix:path=" + path;
  return {};
}

}  // namespace

bool LinuxPlatform::connected() {
  return trusted_.value_or(false) || (!trusted_ && connect());
}

bool LinuxPlatform::connect() {
  trusted_ = false;
  x11_ = X11Desktop::connect();
  if (!x11_) return false;
  const double deadline = monotonicNow() + kTrustSeconds;

  // The accessibility bus: named in the environment, else published by its launcher on
  // the root window, else asked of the launcher on the session bus (without starting a
  // launcher that is not running).
  std::string address = environment("AT_SPI_BUS_ADDRESS");
  if (address.empty()) address = x11_->accessibilityBusAddress();
  if (address.empty()) {
    std::unique_ptr<DbusTransport> session = DbusTransport::connect(sessionBusAddress());
    if (!session) return false;
    Link link(std::move(session));
    Message hello = helloCall();
    Message ask = accessibilityBusAddressCall();
    if (!hello || !ask) return false;
    bool answered = false;
    link.call(*hello, [](DBusMessage&) {});
    link.call(*ask, [&](DBusMessage& reply) {
      answered = true;
      address = stringReply(reply).value_or("");
    });
    Link* links[] = {&link};
    serveLinks(
        links, [&] { return answered; }, deadline);
    if (address.empty()) return false;
  }
  std::unique_ptr<DbusTransport> transport = DbusTransport::connect(address);
  if (!transport) return false;
  bus_ = std::make_unique<Link>(std::move(transport));
  Message hello = helloCall();
  if (!hello || !bus_->call(*hello, [](DBusMessage&) {})) return false;

  // The registry must answer: it is what lists the applications.
  auto listed = std::make_shared<Outcome<std::vector<ObjectRef>>>();
  Message children = getChildrenCall(ObjectRef{std::string(kRegistryName), std::string(kRootPath)});
  if (!children || !bus_->call(*children, [listed](DBusMessage& reply) {
        listed->answered = true;
        listed->value = referencesReply(reply, kChildListingLimit);
      })) {
    return false;
  }
  Link* links[] = {bus_.get()};
  serveLinks(
      links, [&] { return listed->answered; }, deadline);
  trusted_ = listed->value.has_value();
  // The listing also serves the first look-up of the applications.
  registryListing_ = std::move(listed->value);
  return *trusted_;
}

bool LinuxPlatform::isProcessTrusted() {
  if (trusted_) return *trusted_;
  return connect();
}

Link* LinuxPlatform::linkFor(const std::string& bus) {
  const auto peer = peers_.find(bus);
  if (peer != peers_.end() && peer->second->open()) {
    auto& transport = static_cast<DbusTransport&>(peer->second->transport());
    if (transport.authenticated()) return peer->second.get();
  }
  return bus_.get();
}

std::vector<Link*> LinuxPlatform::links() {
  std::vector<Link*> all;
  if (bus_) all.push_back(bus_.get());
  for (auto& [name, link] : peers_) all.push_back(link.get());
  return all;
}

bool LinuxPlatform::send(const std::string& bus, Message message, ReplyHandler handler) {
  if (!message || !bus_) return false;
  Link* link = linkFor(bus);
  if (link == nullptr) return false;
  std::string method;
  if (detailedStatistics_) {
    // Calls by member (properties calls by the property or interface asked for), and
    // handlers counted apart, which tells read-ahead from the calls a waiting operation
    // made itself.
    const char* member = dbus_message_get_member(message.get());
    method = member != nullptr ? member : "";
    if (method == "Get" || method == "GetAll") {
      ArgReader args(*message);
      const std::optional<std::string> interface = args.string();
      args.next();
      const std::optional<std::string> property = args.string();
      method += " " + (property ? *property : interface.value_or(""));
    }
    handler = [this, inner = std::move(handler)](DBusMessage& reply) {
      ++inHandler_;
      inner(reply);
      --inHandler_;
    };
  }
  if (!link->call(*message, std::move(handler))) return false;
  ++statistics_.calls;
  if (link != bus_.get()) ++statistics_.peerCalls;
  if (detailedStatistics_) {
    ++statistics_.byMethod[method];
    if (inHitTest_ && inHandler_ == 0) ++statistics_.hitTestCalls;
  }
  if (link == bus_.get() && ++callsByBus_[bus] == kPeerCallThreshold) openPeer(bus);
  return true;
}

bool LinuxPlatform::await(const std::function<bool()>& done, double deadline) {
  const std::vector<Link*> all = links();
  return serveLinks(all, done, deadline);
}

void LinuxPlatform::openPeer(const std::string& bus) {
  if (peerRequested_[bus]) return;
  peerRequested_[bus] = true;
  // The application's own socket skips the bus daemon's relaying; until it is
  // authenticated (or when it cannot be had) calls keep going through the bus.
  send(bus, getApplicationBusAddressCall(ObjectRef{bus, std::string(kRootPath)}),
       [this, bus](DBusMessage& reply) {
         const std::optional<std::string> address = stringReply(reply);
         if (!address || address->empty()) return;
         std::unique_ptr<DbusTransport> transport = DbusTransport::connect(*address);
         if (transport) peers_[bus] = std::make_unique<Link>(std::move(transport));
       });
}

double LinuxPlatform::deadlineFor(const LinuxElement& element) {
  const float seconds = element.timeout.value_or(systemTimeout_.value_or(kDefaultMessagingTimeout));
  return monotonicNow() + (std::isfinite(seconds) && seconds > 0 ? seconds : 0.0);
}

// ---------------------------------------------------------------------------------------
// Elements and slots.

Node& LinuxPlatform::node(const ObjectRef& ref) {
  std::unique_ptr<Node>& slot = nodes_[ref];
  if (!slot) {
    slot = std::make_unique<Node>();
    slot->ref = ref;
  }
  return *slot;
}

Node* LinuxPlatform::nodeOf(const LinuxElement& element) {
  if (element.kind == LinuxElement::Kind::systemWide || element.ref.bus.empty()) return nullptr;
  return &node(element.ref);
}

Element LinuxPlatform::elementFor(const ObjectRef& ref) {
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::object, ref, 0));
}

namespace {

// Sends one call that fills one slot, unless it is already out.
template <class T, class Parse>
void fill(LinuxPlatform& platform, Node& n, Slot<T> Node::*member, Message message, Parse parse,
          std::function<void(Node&)> then = {}) {
  Slot<T>& slot = n.*member;
  if (slot.state == SlotState::pending) return;
  slot.state = SlotState::pending;
  Node* target = &n;
  const bool sent = platform.send(n.ref.bus, std::move(message),
                                  [target, member, parse, then](DBusMessage& reply) {
                                    Slot<T>& s = target->*member;
                                    std::optional<T> value = parse(reply);
                                    s.state = value ? SlotState::ready : SlotState::failed;
                                    s.value = std::move(value);
                                    s.served = 0;
                                    if (then) then(*target);
                                  });
  if (!sent) {
    slot.state = SlotState::failed;
    slot.value.reset();
    slot.served = 0;
  }
}

}  // namespace

void LinuxPlatform::requestRole(Node& n) {
  fill(
      *this, n, &Node::role, getRoleCall(n.ref),
      [](DBusMessage& reply) { return uint32Reply(reply); },
      [this](Node& target) {
        if (!target.readAhead || !target.role.value || protectedRole(*target.role.value)) return;
        requestProperties(target);
        requestValue(target);
        // Children listed before the role was known are read ahead now.
        if (target.walked && target.children.value) {
          for (const ObjectRef& ref : target.children.value->children) {
            if (!ref.null()) readAhead(node(ref));
          }
        }
      });
}

void LinuxPlatform::requestStates(Node& n) {
  fill(*this, n, &Node::states, getStateCall(n.ref),
       [](DBusMessage& reply) { return stateReply(reply); });
}

void LinuxPlatform::requestExtents(Node& n) {
  fill(*this, n, &Node::extents, getExtentsCall(n.ref), [](DBusMessage& reply) {
    std::optional<Extents> extents = extentsReply(reply);
    // GTK puts what it does not draw (the items of closed menus, hidden popovers, pages
    // not shown) at the most negative coordinates: such an element has no frame on screen.
    if (extents && (extents->x == kNotDrawn || extents->y == kNotDrawn))
      return std::optional<Extents>();
    return extents;
  });
}

void LinuxPlatform::requestProperties(Node& n) {
  // The properties carry the name: never for an element that may be a password field.
  if (!n.role.value || protectedRole(*n.role.value)) {
    n.properties.state = SlotState::failed;
    n.properties.value.reset();
    return;
  }
  const std::string bus = n.ref.bus;
  fill(
      *this, n, &Node::properties, getAllPropertiesCall(n.ref, kAccessibleInterface),
      [bus](DBusMessage& reply) {
        std::optional<AccessibleProperties> properties = accessiblePropertiesReply(reply);
        if (properties && properties->parent) {
          properties->parent = usable(*properties->parent, bus);
        }
        return properties;
      },
      [this](Node& target) {
        if (!target.walked || !target.properties.value) return;
        if (target.properties.value->childCount > 0 && target.children.state == SlotState::idle) {
          requestChildren(target);
        }
      });
}

void LinuxPlatform::requestIdentifier(Node& n) {
  fill(*this, n, &Node::identifier, getPropertyCall(n.ref, kAccessibleInterface, "AccessibleId"),
       [](DBusMessage& reply) { return variantStringReply(reply); });
}

void LinuxPlatform::requestValue(Node& n) {
  if (!n.role.value || protectedRole(*n.role.value)) return;
  const std::uint32_t role = *n.role.value;
  switch (valueSource(role)) {
    case ValueSource::text:
      if (!longText(role)) {
        // Short texts (labels, entries) come whole.
        fill(*this, n, &Node::text, getTextCall(n.ref, -1),
             [](DBusMessage& reply) { return stringReply(reply); });
        return;
      }
      fill(
          *this, n, &Node::characterCount, getPropertyCall(n.ref, kTextInterface, "CharacterCount"),
          [](DBusMessage& reply) { return variantInt32Reply(reply); },
          [this](Node& target) {
            target.text.state = SlotState::idle;
            if (!target.characterCount.value) {
              target.text.state = SlotState::failed;
              target.text.value.reset();
              target.text.served = 0;
              return;
            }
            const std::int32_t count = std::clamp(*target.characterCount.value, 0, kTextValueLimit);
            fill(*this, target, &Node::text, getTextCall(target.ref, count),
                 [](DBusMessage& reply) { return stringReply(reply); });
          });
      // The contents follow once the length is known: the slot waits from now on.
      if (n.characterCount.state == SlotState::pending) {
        n.text.state = SlotState::pending;
      } else if (n.text.state != SlotState::pending) {
        n.text.state = SlotState::failed;
        n.text.value.reset();
      }
      return;
    case ValueSource::number:
      fill(*this, n, &Node::number, getPropertyCall(n.ref, kValueInterface, "CurrentValue"),
           [](DBusMessage& reply) {
             std::optional<double> value = variantDoubleReply(reply);
             if (value && !std::isfinite(*value)) value.reset();
             return value;
           });
      return;
    case ValueSource::checked:
    case ValueSource::selected:
      // The state set is read with the deciding attributes anyway.
      if (n.states.state == SlotState::idle) requestStates(n);
      return;
    case ValueSource::none:
      return;
  }
}

void LinuxPlatform::requestChildren(Node& n) {
  const std::string bus = n.ref.bus;
  fill(
      *this, n, &Node::children, getChildrenCall(n.ref),
      [bus](DBusMessage& reply) -> std::optional<Listing> {
        std::optional<std::vector<ObjectRef>> refs = referencesReply(reply, kChildListingLimit);
        if (!refs) return std::nullopt;
        Listing listing;
        for (ObjectRef& ref : *refs) {
          std::optional<ObjectRef> child = usable(std::move(ref), bus);
          // An unusable reference keeps its place, so that positions do not shift.
          listing.children.push_back(child ? std::move(*child) : ObjectRef{});
        }
        listing.total = listing.children.size();
        return listing;
      },
      [this](Node& target) {
        if (!target.children.value) return;
        // Nothing below a password field is read ahead, and nothing below an element whose
        // role is not known yet (its role handler takes over).
        const bool safe = target.role.value && !protectedRole(*target.role.value);
        for (const ObjectRef& ref : target.children.value->children) {
          if (ref.null()) continue;
          Node& child = node(ref);
          child.listedParent = target.ref;
          if (target.walked && safe) readAhead(child);
        }
      });
}

void LinuxPlatform::requestParent(Node& n) {
  const std::string bus = n.ref.bus;
  fill(*this, n, &Node::parent, getPropertyCall(n.ref, kAccessibleInterface, "Parent"),
       [bus](DBusMessage& reply) -> std::optional<ObjectRef> {
         std::optional<ObjectRef> parent = variantReferenceReply(reply);
         if (!parent) return std::nullopt;
         return usable(std::move(*parent), bus);
       });
}

void LinuxPlatform::readAhead(Node& n) {
  if (n.readAhead || readAheadCount_ >= kReadAheadLimit) return;
  n.readAhead = true;
  n.walked = true;
  ++readAheadCount_;
  // What decides protection, the frame and qualification; the texts follow once the role
  // is known not to be a password field (requestRole).
  if (n.role.state == SlotState::idle) {
    requestRole(n);
  } else if (n.role.value && !protectedRole(*n.role.value)) {
    if (n.properties.state == SlotState::idle) {
      requestProperties(n);
    } else if (n.properties.value && n.properties.value->childCount > 0 &&
               n.children.state == SlotState::idle) {
      requestChildren(n);
    }
    if (n.text.state == SlotState::idle && n.number.state == SlotState::idle &&
        n.characterCount.state == SlotState::idle) {
      requestValue(n);
    }
  }
  if (n.states.state == SlotState::idle) requestStates(n);
  if (n.extents.state == SlotState::idle) requestExtents(n);
  // The children follow the properties, and only when the child count says there are
  // some: a call fewer for every leaf, which is most of a tree.
}

// ---------------------------------------------------------------------------------------
// Accessibility operations.

Element LinuxPlatform::createApplicationElement(ProcessId pid) {
  std::optional<std::string> bus = connected() ? busForPid(pid) : std::nullopt;
  ObjectRef ref;
  if (bus) ref = ObjectRef{*bus, std::string(kRootPath)};
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::application, ref, pid));
}

Element LinuxPlatform::createSystemWideElement() {
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::systemWide, ObjectRef{}, 0));
}

void LinuxPlatform::setMessagingTimeout(const Element& element, float seconds) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr) return;
  if (e->kind == LinuxElement::Kind::systemWide) {
    systemTimeout_ = seconds;
  } else {
    e->timeout = seconds;
  }
}

AttributeRead LinuxPlatform::copyAttributeValue(const Element& element, std::string_view name) {
  const std::string_view names[] = {name};
  std::vector<AttributeRead> reads = copyMultipleAttributeValues(element, names);
  return std::move(reads[0]);
}

std::vector<AttributeRead> LinuxPlatform::copyMultipleAttributeValues(const Element& element,
                                                                      AttributeNames names) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) {
    return std::vector<AttributeRead>(names.size(), AttributeRead{AxStatus::invalidElement, {}});
  }
  return readAttributes(*e, names);
}

std::vector<AttributeRead> LinuxPlatform::readAttributes(const LinuxElement& element,
                                                         AttributeNames names) {
  std::vector<AttributeRead> reads(names.size());
  std::vector<Attr> attrs;
  attrs.reserve(names.size());
  for (std::string_view name : names) attrs.push_back(attrOf(name));

  Node* n = nodeOf(element);
  if (n == nullptr) {
    for (AttributeRead& read : reads) read.status = AxStatus::invalidElement;
    return reads;
  }
  const double deadline = deadlineFor(element);

  // Texts are asked for only once the role is known not to be a password field.
  const bool wantsTexts = std::any_of(attrs.begin(), attrs.end(), textAttr) ||
                          std::count(attrs.begin(), attrs.end(), Attr::identifier) > 0;
  if (wantsTexts && stale(n->role, 0)) requestRole(*n);
  if (std::any_of(attrs.begin(), attrs.end(), textAttr)) {
    await([&] { return !pending(n->role); }, deadline);
  }
  const std::optional<std::uint32_t> role = n->role.value;
  const bool safe = role && !protectedRole(*role);
  // An element known to be safe gives its identifier with its other properties; any other
  // is asked for the identifier alone.
  const bool identifierFromProperties = safe;

  // The focus attributes of an application are searches of its tree, made together.
  struct Search {
    bool asked = false;
    bool answered = false;
    std::optional<ObjectRef> found;
  };
  const auto focusedWindowSearch = std::make_shared<Search>();
  const auto focusedElementSearch = std::make_shared<Search>();
  Search& focusedWindow = *focusedWindowSearch;
  Search& focusedElement = *focusedElementSearch;
  const auto search = [&](const std::shared_ptr<Search>& s, StateSet states, bool traverse) {
    if (s->asked) return;
    s->asked = true;
    const std::string bus = n->ref.bus;
    if (!send(bus, getMatchesCall(n->ref, states, 1, traverse), [s, bus](DBusMessage& reply) {
          s->answered = true;
          std::optional<std::vector<ObjectRef>> refs = referencesReply(reply, 1);
          if (refs && !refs->empty()) s->found = usable((*refs)[0], bus);
        })) {
      s->answered = true;
    }
  };

  // Send everything the batch needs, then wait once.
  for (const Attr attr : attrs) {
    switch (attr) {
      case Attr::role:
        if (stale(n->role, 0)) requestRole(*n);
        if (stale(n->states, kBitRole)) requestStates(*n);
        break;
      case Attr::subrole:
        if (stale(n->role, 0)) requestRole(*n);
        break;
      case Attr::position:
        if (stale(n->extents, kBitPosition)) requestExtents(*n);
        break;
      case Attr::size:
        if (stale(n->extents, kBitSize)) requestExtents(*n);
        break;
      case Attr::enabled:
        if (stale(n->states, kBitEnabled)) requestStates(*n);
        break;
      case Attr::minimized:
        if (stale(n->states, kBitMinimized)) requestStates(*n);
        break;
      case Attr::identifier:
        if (identifierFromProperties) {
          if (stale(n->properties, kBitIdentifier)) requestProperties(*n);
        } else if (stale(n->identifier, 0)) {
          requestIdentifier(*n);
        }
        break;
      case Attr::title:
        if (safe && stale(n->properties, kBitTitle)) requestProperties(*n);
        break;
      case Attr::description:
        if (safe && stale(n->properties, kBitDescription)) requestProperties(*n);
        break;
      case Attr::value:
        if (!safe) break;
        switch (valueSource(*role)) {
          case ValueSource::text:
            if (stale(n->text, kBitValue)) requestValue(*n);
            break;
          case ValueSource::number:
            if (stale(n->number, kBitValue)) requestValue(*n);
            break;
          case ValueSource::checked:
          case ValueSource::selected:
            if (stale(n->states, kBitValue)) requestStates(*n);
            break;
          case ValueSource::none:
            break;
        }
        break;
      case Attr::children:
        if (stale(n->children, 0)) requestChildren(*n);
        break;
      case Attr::parent:
        if (!n->listedParent && stale(n->parent, 0)) requestParent(*n);
        break;
      case Attr::focusedWindow:
        search(focusedWindowSearch, stateBit(State::active), false);
        break;
      case Attr::focusedElement:
        search(focusedElementSearch, stateBit(State::focused), true);
        break;
      case Attr::protectedContent:
      case Attr::windows:
      case Attr::unsupported:
        break;
    }
  }
  await(
      [&] {
        return !pending(n->role) && !pending(n->states) && !pending(n->extents) &&
               !pending(n->properties) && !pending(n->identifier) && !pending(n->text) &&
               !pending(n->number) && !pending(n->children) && !pending(n->parent) &&
               (!focusedWindow.asked || focusedWindow.answered) &&
               (!focusedElement.asked || focusedElement.answered);
      },
      deadline);

  for (std::size_t i = 0; i < attrs.size(); ++i) {
    AttributeRead& read = reads[i];
    read.status = AxStatus::attributeUnsupported;
    switch (attrs[i]) {
      case Attr::role: {
        const std::uint32_t* r = take(n->role, 0);
        const StateSet* s = take(n->states, kBitRole);
        markFailedRead(n->states, kBitRole);
        if (r != nullptr)
          read = success(axRole(*r, s != nullptr ? *s : 0));
        else
          read.status = failureOf(n->role.state);
        break;
      }
      case Attr::subrole: {
        const std::uint32_t* r = take(n->role, 0);
        if (r == nullptr) {
          read.status = failureOf(n->role.state);
        } else if (!axSubrole(*r).empty()) {
          read = success(std::string(axSubrole(*r)));
        } else {
          read.status = AxStatus::noValue;
        }
        break;
      }
      case Attr::position:
      case Attr::size: {
        const bool position = attrs[i] == Attr::position;
        const Extents* x = take(n->extents, position ? kBitPosition : kBitSize);
        markFailedRead(n->extents, position ? kBitPosition : kBitSize);
        if (x == nullptr) {
          read.status = failureOf(n->extents.state);
        } else if (position) {
          read = success(PointValue{double(x->x), double(x->y)});
        } else {
          read = success(SizeValue{double(x->width), double(x->height)});
        }
        break;
      }
      case Attr::enabled:
      case Attr::minimized: {
        const bool enabled = attrs[i] == Attr::enabled;
        const StateSet* s = take(n->states, enabled ? kBitEnabled : kBitMinimized);
        markFailedRead(n->states, enabled ? kBitEnabled : kBitMinimized);
        if (s == nullptr) {
          read.status = failureOf(n->states.state);
        } else {
          read = success(hasState(*s, enabled ? State::enabled : State::iconified));
        }
        break;
      }
      case Attr::identifier: {
        if (identifierFromProperties) {
          const AccessibleProperties* p = take(n->properties, kBitIdentifier);
          markFailedRead(n->properties, kBitIdentifier);
          if (p != nullptr)
            read = success(p->accessibleId);
          else
            read.status = failureOf(n->properties.state);
        } else {
          const std::string* id = take(n->identifier, 0);
          if (id != nullptr)
            read = success(*id);
          else
            read.status = failureOf(n->identifier.state);
        }
        break;
      }
      case Attr::title:
      case Attr::description: {
        if (!safe) {
          read.status = AxStatus::cannotComplete;
          break;
        }
        const bool title = attrs[i] == Attr::title;
        const AccessibleProperties* p = take(n->properties, title ? kBitTitle : kBitDescription);
        markFailedRead(n->properties, title ? kBitTitle : kBitDescription);
        if (p == nullptr) {
          read.status = failureOf(n->properties.state);
        } else if (title && p->name.empty() && windowRole(*role)) {
          // A top-level window without an accessible name has the title the window
          // manager shows.
          const std::string name = p->name;
          const std::optional<ClientWindow> shown = clientWindowOf(*n, deadline);
          read = success(shown ? shown->title : name);
        } else {
          read = success(title ? p->name : p->description);
        }
        break;
      }
      case Attr::value: {
        if (!safe) {
          read.status = AxStatus::cannotComplete;
          break;
        }
        switch (valueSource(*role)) {
          case ValueSource::text: {
            const std::string* t = take(n->text, kBitValue);
            markFailedRead(n->text, kBitValue);
            if (t != nullptr)
              read = success(*t);
            else
              read.status = failureOf(n->text.state);
            break;
          }
          case ValueSource::number: {
            const double* v = take(n->number, kBitValue);
            markFailedRead(n->number, kBitValue);
            if (v != nullptr)
              read = success(NumberValue{*v, numberText(*v)});
            else
              read.status = failureOf(n->number.state);
            break;
          }
          case ValueSource::checked:
          case ValueSource::selected: {
            const StateSet* s = take(n->states, kBitValue);
            markFailedRead(n->states, kBitValue);
            const State state =
                valueSource(*role) == ValueSource::checked ? State::checked : State::selected;
            if (s == nullptr) {
              read.status = failureOf(n->states.state);
            } else {
              const double on = hasState(*s, state) ? 1 : 0;
              read = success(NumberValue{on, numberText(on)});
            }
            break;
          }
          case ValueSource::none:
            read.status = AxStatus::noValue;
            break;
        }
        break;
      }
      case Attr::children: {
        const Listing* l = take(n->children, 0);
        if (l == nullptr) {
          read.status = failureOf(n->children.state);
          break;
        }
        ArrayValue array;
        for (const ObjectRef& ref : l->children) {
          if (ref.null())
            array.emplace_back(OtherValue{"invalid"});
          else
            array.emplace_back(elementFor(ref));
        }
        read = success(std::move(array));
        break;
      }
      case Attr::parent: {
        if (n->listedParent) {
          read = success(elementFor(*n->listedParent));
          break;
        }
        const ObjectRef* p = take(n->parent, 0);
        if (p != nullptr)
          read = success(elementFor(*p));
        else
          read.status = failureOf(n->parent.state);
        break;
      }
      case Attr::windows: {
        const std::optional<std::vector<ObjectRef>> windows = windowsOf(*n, deadline);
        if (!windows) {
          read.status = AxStatus::cannotComplete;
          break;
        }
        ArrayValue array;
        for (const ObjectRef& ref : *windows) array.emplace_back(elementFor(ref));
        read = success(std::move(array));
        break;
      }
      case Attr::focusedWindow:
      case Attr::focusedElement: {
        const Search& s = attrs[i] == Attr::focusedWindow ? focusedWindow : focusedElement;
        if (s.found)
          read = success(elementFor(*s.found));
        else
          read.status = s.answered ? AxStatus::noValue : AxStatus::cannotComplete;
        break;
      }
      case Attr::protectedContent:
      case Attr::unsupported:
        break;
    }
  }
  return reads;
}

std::optional<std::vector<ObjectRef>> LinuxPlatform::listing(Node& n, double deadline) {
  if (stale(n.children, 0)) requestChildren(n);
  await([&] { return !pending(n.children); }, deadline);
  if (!n.children.value) return std::nullopt;
  return n.children.value->children;
}

std::optional<std::vector<ObjectRef>> LinuxPlatform::windowsOf(Node& root, double deadline) {
  std::optional<std::vector<ObjectRef>> children = listing(root, deadline);
  if (!children) return std::nullopt;
  // Each child's role and its current state: a window counts while it is shown or
  // iconified (hidden menus and closed dialogs stay among the children).
  for (const ObjectRef& ref : *children) {
    if (ref.null()) continue;
    Node& child = node(ref);
    if (stale(child.role, 0)) requestRole(child);
    if (!pending(child.states)) requestStates(child);
  }
  const bool complete = await(
      [&] {
        return std::none_of(children->begin(), children->end(), [&](const ObjectRef& ref) {
          if (ref.null()) return false;
          Node& child = node(ref);
          return pending(child.role) || pending(child.states);
        });
      },
      deadline);
  if (!complete) return std::nullopt;
  std::vector<ObjectRef> windows;
  for (const ObjectRef& ref : *children) {
    if (ref.null()) continue;
    Node& child = node(ref);
    if (!child.role.value || !windowRole(*child.role.value) || !child.states.value) continue;
    const StateSet states = *child.states.value;
    if (hasState(states, State::showing) || hasState(states, State::iconified)) {
      windows.push_back(ref);
    }
  }
  return windows;
}

CountRead LinuxPlatform::getAttributeValueCount(const Element& element, std::string_view name) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return {AxStatus::invalidElement, 0};
  Node* n = nodeOf(*e);
  if (n == nullptr) return {AxStatus::invalidElement, 0};
  const double deadline = deadlineFor(*e);
  const Attr attr = attrOf(name);
  if (attr == Attr::windows) {
    const std::optional<std::vector<ObjectRef>> windows = windowsOf(*n, deadline);
    if (!windows) return {AxStatus::cannotComplete, 0};
    return {AxStatus::success, static_cast<long>(windows->size())};
  }
  if (attr != Attr::children) return {AxStatus::attributeUnsupported, 0};
  // Counting children is how the walk descends: the element's children, once listed, are
  // read ahead, and the application's own socket is worth opening.
  n->walked = true;
  // An element whose properties (read ahead) say it has no children is not asked to list
  // them.
  if (n->children.state == SlotState::idle && pending(n->properties)) {
    await([&] { return !pending(n->properties); }, deadline);
  }
  if (n->children.state == SlotState::idle && n->properties.value &&
      n->properties.value->childCount <= 0) {
    return {AxStatus::success, 0};
  }
  if (n->children.state == SlotState::ready && n->children.value) {
    // Already listed; make sure the children are being read ahead.
    for (const ObjectRef& ref : n->children.value->children) {
      if (!ref.null()) readAhead(node(ref));
    }
  }
  const std::optional<std::vector<ObjectRef>> children = listing(*n, deadline);
  if (!children) return {failureOf(n->children.state), 0};
  return {AxStatus::success, static_cast<long>(n->children.value->total)};
}

AttributeRead LinuxPlatform::copyAttributeValues(const Element& element, std::string_view name,
                                                 long index, long maxCount) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return {AxStatus::invalidElement, {}};
  Node* n = nodeOf(*e);
  if (n == nullptr) return {AxStatus::invalidElement, {}};
  if (index < 0 || maxCount < 0) return {AxStatus::failure, {}};
  const double deadline = deadlineFor(*e);
  const Attr attr = attrOf(name);
  std::optional<std::vector<ObjectRef>> refs;
  if (attr == Attr::windows) {
    refs = windowsOf(*n, deadline);
  } else if (attr == Attr::children) {
    refs = listing(*n, deadline);
  } else {
    return {AxStatus::attributeUnsupported, {}};
  }
  if (!refs) return {AxStatus::cannotComplete, {}};
  ArrayValue array;
  const std::size_t first = std::min(static_cast<std::size_t>(index), refs->size());
  const std::size_t last = std::min(refs->size(), first + static_cast<std::size_t>(maxCount));
  for (std::size_t i = first; i < last; ++i) {
    const ObjectRef& ref = (*refs)[i];
    if (ref.null())
      array.emplace_back(OtherValue{"invalid"});
    else
      array.emplace_back(elementFor(ref));
  }
  return success(std::move(array));
}

AxStatus LinuxPlatform::setBooleanAttribute(const Element& element, std::string_view name,
                                            bool value) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return AxStatus::invalidElement;
  if (attrOf(name) != Attr::minimized) return AxStatus::attributeUnsupported;
  Node* n = nodeOf(*e);
  const std::optional<ClientWindow> window = n ? clientWindowOf(*n, deadlineFor(*e)) : std::nullopt;
  if (!window) return AxStatus::cannotComplete;
  // A pager restores an iconified window by activating it.
  const bool sent = value ? x11_->requestIconify(window->id) : x11_->requestActivation(window->id);
  return sent ? AxStatus::success : AxStatus::failure;
}

AxStatus LinuxPlatform::performAction(const Element& element, std::string_view action) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return AxStatus::invalidElement;
  if (action != "AXRaise") return AxStatus::actionUnsupported;
  Node* n = nodeOf(*e);
  const std::optional<ClientWindow> window = n ? clientWindowOf(*n, deadlineFor(*e)) : std::nullopt;
  if (!window) return AxStatus::cannotComplete;
  const bool sent = x11_->requestRaise(window->id) && x11_->requestActivation(window->id);
  return sent ? AxStatus::success : AxStatus::failure;
}

// ---------------------------------------------------------------------------------------
// Hit test.

ElementRead LinuxPlatform::copyElementAtPosition(const Element& systemWide, float x, float y) {
  const auto* e = systemWide.as<LinuxElement>();
  if (e == nullptr || e->kind != LinuxElement::Kind::systemWide || !connected()) return {};
  ++statistics_.hitTests;
  inHitTest_ = true;
  const double deadline = deadlineFor(*e);
  const double px = x;
  const double py = y;

  // The window on top at the point, in the window manager's stacking order.
  const std::vector<ClientWindow>& clients = clientWindows();
  const ClientWindow* top = nullptr;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->viewable && !it->hidden && it->frame.contains(px, py)) {
      top = &*it;
      break;
    }
  }
  ElementRead result;
  if (top != nullptr) {
    // Which accessible window a client window shows is settled once per run.
    auto known = framesByClient_.find(top->id);
    if (known == framesByClient_.end()) {
      known = framesByClient_.emplace(top->id, accessibleWindowOf(*top, deadline)).first;
    }
    if (const std::optional<ObjectRef>& frame = known->second) {
      // The deepest showing element that contains the point, taking at each level the
      // last child in the application's order that does: where children overlap (an
      // overlay), the later one is drawn over the earlier.
      Node* current = &node(*frame);
      // The window a hit test lands in is the one the walk reads: reading it ahead from
      // here keeps the application busy while the descent waits.
      readAhead(*current);
      for (int depth = 0; depth < kHitTestDepthLimit; ++depth) {
        // An element known to have no children is not asked for them.
        if (current->properties.value && current->properties.value->childCount == 0 &&
            current->children.state == SlotState::idle) {
          break;
        }
        const std::optional<std::vector<ObjectRef>> children = listing(*current, deadline);
        if (!children) break;
        for (const ObjectRef& ref : *children) {
          if (ref.null()) continue;
          Node& child = node(ref);
          child.listedParent = current->ref;
          // What this run already read stands; only what was never asked is asked now.
          if (child.extents.state == SlotState::idle) requestExtents(child);
          if (child.states.state == SlotState::idle) requestStates(child);
        }
        await(
            [&] {
              return std::none_of(children->begin(), children->end(), [&](const ObjectRef& ref) {
                if (ref.null()) return false;
                const Node& child = node(ref);
                return (pending(child.extents) && !child.extents.value) ||
                       (pending(child.states) && !child.states.value);
              });
            },
            deadline);
        Node* next = nullptr;
        for (auto it = children->rbegin(); it != children->rend(); ++it) {
          if (it->null()) continue;
          Node& child = node(*it);
          if (!child.extents.value || !child.states.value) continue;
          if (!hasState(*child.states.value, State::showing)) continue;
          const Extents& box = *child.extents.value;
          if (box.width > 0 && box.height > 0 && box.contains(px, py)) {
            next = &child;
            break;
          }
        }
        if (next == nullptr) break;
        current = next;
      }
      result = {AxStatus::success, elementFor(current->ref)};
    } else {
      result.status = AxStatus::cannotComplete;
    }
  } else {
    result.status = AxStatus::noValue;
  }
  inHitTest_ = false;
  return result;
}

ElementRead LinuxPlatform::applicationHitTest(float x, float y) {
  if (!connected()) return {};
  const double deadline = monotonicNow() + systemTimeout_.value_or(kDefaultMessagingTimeout);
  const std::vector<ClientWindow>& clients = clientWindows();
  const ClientWindow* top = nullptr;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->viewable && !it->hidden && it->frame.contains(x, y)) {
      top = &*it;
      break;
    }
  }
  if (top == nullptr) return {};
  std::optional<ObjectRef> current = accessibleWindowOf(*top, deadline);
  if (!current) return {};
  for (int depth = 0; depth < kHitTestDepthLimit; ++depth) {
    auto next = std::make_shared<Outcome<ObjectRef>>();
    const std::string bus = current->bus;
    if (!send(bus,
              getAccessibleAtPointCall(*current, static_cast<std::int32_t>(std::floor(x)),
                                       static_cast<std::int32_t>(std::floor(y))),
              [next, bus](DBusMessage& reply) {
                next->answered = true;
                if (std::optional<ObjectRef> ref = referenceReply(reply)) {
                  next->value = usable(*ref, bus);
                }
              })) {
      break;
    }
    await([&] { return next->answered; }, deadline);
    if (!next->value || *next->value == *current) break;
    current = next->value;
  }
  return {AxStatus::success, elementFor(*current)};
}

// ---------------------------------------------------------------------------------------
// Workspace.

const std::vector<ClientWindow>& LinuxPlatform::clientWindows() {
  // Read once per run for the hit tests; the workspace operations read afresh.
  if (!clients_) clients_ = x11_->clientWindows();
  return *clients_;
}

bool LinuxPlatform::refreshApplications(double deadline) {
  auto apps = std::make_shared<Outcome<std::vector<ObjectRef>>>();
  if (registryListing_) {
    apps->answered = true;
    apps->value = std::move(registryListing_);
    registryListing_.reset();
  } else {
    Message call = getChildrenCall(ObjectRef{std::string(kRegistryName), std::string(kRootPath)});
    if (!call || !bus_->call(*call, [apps](DBusMessage& reply) {
          apps->answered = true;
          apps->value = referencesReply(reply, kChildListingLimit);
        })) {
      return false;
    }
    ++statistics_.calls;
    await([&] { return apps->answered; }, deadline);
  }
  if (!apps->value) return false;
  applicationsListed_ = true;
  auto outstanding = std::make_shared<int>(0);
  for (const ObjectRef& app : *apps->value) {
    if (!validBusName(app.bus) || pidsByBus_.count(app.bus) != 0) continue;
    Message ask = connectionPidCall(app.bus);
    const std::string bus = app.bus;
    if (ask && bus_->call(*ask, [this, bus, outstanding](DBusMessage& reply) {
          --*outstanding;
          const std::optional<std::uint32_t> pid = uint32Reply(reply);
          if (pid && *pid > 0 && *pid <= 0x7fffffffu) {
            pidsByBus_[bus] = static_cast<ProcessId>(*pid);
          }
        })) {
      ++*outstanding;
      ++statistics_.calls;
    }
  }
  return await([&] { return *outstanding == 0; }, deadline);
}

std::optional<std::string> LinuxPlatform::busForPid(ProcessId pid) {
  if (!bus_) return std::nullopt;
  const auto find = [&]() -> std::optional<std::string> {
    for (const auto& [bus, owner] : pidsByBus_) {
      if (owner == pid) return bus;
    }
    return std::nullopt;
  };
  if (std::optional<std::string> bus = find()) return bus;
  refreshApplications(monotonicNow() + kWorkspaceSeconds);
  return find();
}

std::optional<ProcessId> LinuxPlatform::pidForBus(const std::string& bus) {
  auto found = pidsByBus_.find(bus);
  if (found == pidsByBus_.end()) {
    refreshApplications(monotonicNow() + kWorkspaceSeconds);
    found = pidsByBus_.find(bus);
  }
  if (found == pidsByBus_.end()) return std::nullopt;
  return found->second;
}

void LinuxPlatform::fetchNames(const std::vector<ProcessId>& pids) {
  const double deadline = monotonicNow() + kWorkspaceSeconds;
  auto outstanding = std::make_shared<int>(0);
  for (const ProcessId pid : pids) {
    if (names_.count(pid) != 0) continue;
    names_[pid] = std::string();
    const std::optional<std::string> bus = busForPid(pid);
    if (!bus) continue;
    if (send(*bus,
             getPropertyCall(ObjectRef{*bus, std::string(kRootPath)}, kAccessibleInterface, "Name"),
             [this, pid, outstanding](DBusMessage& reply) {
               --*outstanding;
               names_[pid] = variantStringReply(reply).value_or("");
             })) {
      ++*outstanding;
    }
  }
  await([&] { return *outstanding == 0; }, deadline);
}

RunningApplication LinuxPlatform::describe(ProcessId pid, const std::vector<ClientWindow>& clients,
                                           bool managed) {
  RunningApplication application;
  application.processIdentifier = pid;
  const auto name = names_.find(pid);
  std::string localized = name != names_.end() ? name->second : std::string();
  if (localized.empty()) localized = validUtf8(processName(pid));
  if (!localized.empty()) application.localizedName = localized;
  for (const ClientWindow& client : clients) {
    if (client.pid != pid) continue;
    if (!client.applicationId.empty()) {
      application.bundleIdentifier = client.applicationId;
      break;
    }
    if (!application.bundleIdentifier && !client.windowClass.empty()) {
      application.bundleIdentifier = client.windowClass;
    }
  }
  // An application without a managed top-level window is not one the user switches to.
  constexpr int kActivationPolicyAccessory = 1;
  application.activationPolicy = managed ? kActivationPolicyRegular : kActivationPolicyAccessory;
  application.terminated = !processExists(pid);
  return application;
}

std::optional<RunningApplication> LinuxPlatform::frontmostApplication() {
  if (!connected()) return std::nullopt;
  const std::optional<xcb_window_t> active = x11_->activeWindow();
  if (!active) return std::nullopt;
  const ProcessId pid = x11_->windowPid(*active);
  if (pid <= 0) return std::nullopt;
  fetchNames({pid});
  const std::vector<ClientWindow> clients = x11_->clientWindows();
  return describe(pid, clients, true);
}

std::vector<RunningApplication> LinuxPlatform::runningApplications() {
  if (!connected()) return {};
  const std::vector<ClientWindow> clients = x11_->clientWindows();
  std::vector<ProcessId> pids;
  for (const ClientWindow& client : clients) {
    if (client.pid > 0 && std::find(pids.begin(), pids.end(), client.pid) == pids.end()) {
      pids.push_back(client.pid);
    }
  }
  fetchNames(pids);
  std::vector<RunningApplication> applications;
  applications.reserve(pids.size());
  for (const ProcessId pid : pids) applications.push_back(describe(pid, clients, true));
  return applications;
}

std::optional<RunningApplication> LinuxPlatform::runningApplication(ProcessId pid) {
  if (!connected() || !processExists(pid)) return std::nullopt;
  const std::vector<ClientWindow> clients = x11_->clientWindows();
  const bool managed = std::any_of(clients.begin(), clients.end(),
                                   [&](const ClientWindow& client) { return client.pid == pid; });
  fetchNames({pid});
  return describe(pid, clients, managed);
}

bool LinuxPlatform::activate(const RunningApplication& application, unsigned) {
  if (!connected() || !processExists(application.processIdentifier)) return false;
  const std::vector<ClientWindow> clients = x11_->clientWindows();
  // The application's window nearest the top, preferring one that is not iconified.
  const ClientWindow* chosen = nullptr;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->pid != application.processIdentifier) continue;
    if (chosen == nullptr || (chosen->hidden && !it->hidden)) chosen = &*it;
    if (!chosen->hidden) break;
  }
  if (chosen == nullptr) return false;
  return x11_->requestActivation(chosen->id);
}

std::optional<ObjectRef> LinuxPlatform::accessibleWindowOf(const ClientWindow& client,
                                                           double deadline) {
  if (client.pid <= 0) return std::nullopt;
  const std::optional<std::string> bus = busForPid(client.pid);
  if (!bus) return std::nullopt;
  Node& root = node(ObjectRef{*bus, std::string(kRootPath)});
  const std::optional<std::vector<ObjectRef>> windows = windowsOf(root, deadline);
  if (!windows || windows->empty()) return std::nullopt;
  std::vector<AccessibleWindow> described;
  for (const ObjectRef& ref : *windows) {
    Node& window = node(ref);
    if (!window.properties.value && !pending(window.properties)) requestProperties(window);
    if (!window.extents.value && !pending(window.extents)) requestExtents(window);
  }
  await(
      [&] {
        return std::none_of(windows->begin(), windows->end(), [&](const ObjectRef& ref) {
          const Node& window = node(ref);
          return pending(window.properties) || pending(window.extents);
        });
      },
      deadline);
  for (const ObjectRef& ref : *windows) {
    const Node& window = node(ref);
    AccessibleWindow entry;
    if (window.properties.value) entry.title = window.properties.value->name;
    if (window.extents.value) {
      const Extents& x = *window.extents.value;
      entry.frame = ScreenRect{double(x.x), double(x.y), double(x.width), double(x.height)};
    }
    described.push_back(std::move(entry));
  }
  std::vector<ClientWindow> same;
  std::size_t wanted = 0;
  for (const ClientWindow& candidate : clients_ ? *clients_ : x11_->clientWindows()) {
    if (candidate.pid != client.pid) continue;
    if (candidate.id == client.id) wanted = same.size();
    same.push_back(candidate);
  }
  const std::vector<std::optional<std::size_t>> pairs = matchWindows(described, same);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i] && *pairs[i] == wanted && same[wanted].id == client.id) return (*windows)[i];
  }
  return std::nullopt;
}

std::optional<ClientWindow> LinuxPlatform::clientWindowOf(Node& window, double deadline) {
  Node* n = &window;
  const std::optional<ProcessId> pid = pidForBus(n->ref.bus);
  if (!pid) return std::nullopt;
  Node& root = node(ObjectRef{n->ref.bus, std::string(kRootPath)});
  const std::optional<std::vector<ObjectRef>> windows = windowsOf(root, deadline);
  if (!windows) return std::nullopt;
  const auto position = std::find(windows->begin(), windows->end(), n->ref);
  if (position == windows->end()) return std::nullopt;
  for (const ObjectRef& ref : *windows) {
    Node& w = node(ref);
    if (!pending(w.properties)) requestProperties(w);
    if (!pending(w.extents)) requestExtents(w);
  }
  await(
      [&] {
        return std::none_of(windows->begin(), windows->end(), [&](const ObjectRef& ref) {
          const Node& w = node(ref);
          return pending(w.properties) || pending(w.extents);
        });
      },
      deadline);
  std::vector<AccessibleWindow> described;
  for (const ObjectRef& ref : *windows) {
    const Node& w = node(ref);
    AccessibleWindow entry;
    if (w.properties.value) entry.title = w.properties.value->name;
    if (w.extents.value) {
      const Extents& x = *w.extents.value;
      entry.frame = ScreenRect{double(x.x), double(x.y), double(x.width), double(x.height)};
    }
    described.push_back(std::move(entry));
  }
  std::vector<ClientWindow> same;
  for (ClientWindow& client : x11_->clientWindows()) {
    if (client.pid == *pid) same.push_back(std::move(client));
  }
  const std::vector<std::optional<std::size_t>> pairs = matchWindows(described, same);
  const auto index = static_cast<std::size_t>(position - windows->begin());
  if (!pairs[index]) return std::nullopt;
  return same[*pairs[index]];
}

// ---------------------------------------------------------------------------------------
// Process, input, clock, run loop.

ProcessId LinuxPlatform::ownProcessIdentifier() {
  return posix::ownProcessIdentifier();
}

std::string LinuxPlatform::readStandardInput(std::size_t maxBytes) {
  return posix::readStandardInput(maxBytes);
}

WallTime LinuxPlatform::now() {
  return posix::now();
}

void LinuxPlatform::runLoopUntil(WallTime date) {
  // The date is wall-clock time; the wait is measured on the monotonic clock.
  constexpr double kLongestWait = 86400;
  const double left = std::min(date - now(), kLongestWait);
  if (!(left > 0)) return;
  const double end = monotonicNow() + left;
  std::vector<pollfd> fds;
  for (;;) {
    // Serve what came in: replies still owed to earlier calls, and X events.
    for (Link* link : links()) {
      link->transport().pump();
      link->drain();
    }
    if (x11_) x11_->drainEvents();
    const double remaining = end - monotonicNow();
    if (!(remaining > 0)) return;
    fds.clear();
    for (Link* link : links()) {
      const int fd = link->transport().descriptor();
      if (fd >= 0 && link->open()) fds.push_back(pollfd{fd, POLLIN, 0});
    }
    if (x11_ && x11_->descriptor() >= 0) fds.push_back(pollfd{x11_->descriptor(), POLLIN, 0});
    ::poll(fds.data(), fds.size(), static_cast<int>(std::ceil(remaining * 1000)));
  }
}

}  // namespace lin
}  // namespace nevo
