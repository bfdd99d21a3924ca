// What the backend knows of each accessible object, and what it asks for it.
//
// Every fact read about an object sits in a slot. A read of an attribute uses a slot's
// value only once: the next read of the same attribute asks the application again, so that
// a command re-reading something (a window's frame, the focus) sees it as it is now. A few
// facts are taken once per run and kept (role, identifier, children, parent): they do not
// change for an object.
//
// Every fact is read with a call that asks for that one thing (a method, or a single-property
// `Get`), the calls for many objects sent together: no toolkit is sent `GetAll`.
//
// Read-ahead fills slots before the core asks: when the walk lists an element's children,
// each child's role, states, extents, identifier and children go out at once; its name,
// description and value follow once its role is known not to be a password text and its
// extents show it on the screen (the core reads no text of an element without a frame).
// The core then takes the slots as if it had asked itself.
//
// A password text's name, description and text contents are never asked for: not by a
// read, not by read-ahead (whose requests wait for the role), not below it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/connections.h"
#include "platform/linux/toolkit_facts.h"
#include "platform/platform.h"

namespace nevo::lin {

// Most elements the walk's read-ahead asks about in one run.
inline constexpr int kReadAheadLimit = 600;
// Most levels below an element the walk has reached that are read ahead: enough that the
// walk's next visits find their answers in flight, few enough that a large tree whose walk
// ends early (a budget) is not read far beyond it.
inline constexpr int kReadAheadDepth = 4;
// Most children read from one element.
inline constexpr std::size_t kChildListingLimit = 1024;
// Most elements whose states the search for the focused element reads, where the
// application's root cannot be searched in one call.
inline constexpr std::size_t kFocusSearchLimit = 1500;
// Most characters of an element's text contents asked for.
inline constexpr std::int32_t kTextValueLimit = 4096;

enum class SlotState : std::uint8_t { idle, pending, ready, failed };

template <class T>
struct Slot {
  SlotState state = SlotState::idle;
  std::optional<T> value;    // the last value read
  std::uint32_t served = 0;  // attributes that have already been given this value
};

// The attributes a slot's value is handed to, one bit each. Slots kept for the run are
// taken with no bit (0).
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

struct CachedObject;

// An element's children as read: the first ones (at most the listing limit). An unusable
// reference keeps its place as a null reference (and a null entry).
struct Listing {
  std::vector<ObjectRef> children;
  std::vector<CachedObject*> objects;  // the children's cache entries, in the same places
};

struct CachedObject {
  ObjectRef ref;
  Slot<std::uint32_t> role;  // kept for the run
  Slot<StateSet> states;
  Slot<Extents> extents;
  Slot<std::string> name;
  Slot<std::string> description;
  Slot<std::string> identifier;       // kept for the run
  Slot<std::int32_t> characterCount;  // of long texts, before their contents
  Slot<std::string> text;
  Slot<double> number;
  Slot<Listing> children;                // kept for the run
  Slot<ObjectRef> parent;                // kept for the run
  CachedObject* listedParent = nullptr;  // the element whose children listed this one
  bool readAhead = false;                // the walk's read-ahead has asked for this element
  bool walked = false;                   // children get read ahead once listed
  int aheadDepth = kReadAheadDepth;      // levels below an element the walk has reached

  // Whether the role is known and is not a password text: only then may its texts be asked.
  bool knownSafe() const;
  // Whether it was listed as a child of its application's root: a top-level window.
  bool topLevel() const;
};

// Whether a slot must be asked again before attribute `bit` may take it. Slots kept for the
// run (`bit` 0) are asked once.
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

// Serves the slot's value to attribute `bit`: the value, or null when the read failed or is
// still out.
template <class T>
const T* take(Slot<T>& slot, std::uint32_t bit) {
  if (slot.state != SlotState::ready || !slot.value) return nullptr;
  slot.served |= bit;
  return &*slot.value;
}

// The status of a read whose slot has no value: still out when the wait gave up, or failed.
inline AxStatus failureOf(SlotState state) {
  return state == SlotState::pending ? AxStatus::cannotComplete : AxStatus::noValue;
}

// A failed read is served like a value: the next read of the same attribute asks again.
template <class T>
void markFailedRead(Slot<T>& slot, std::uint32_t bit) {
  if (slot.state == SlotState::failed) slot.served |= bit;
}

// A reference as received: an object of the same application may come without a bus name
// over the application's own socket. Absent when it names nothing usable.
std::optional<ObjectRef> usable(ObjectRef ref, const std::string& bus);

class ObjectCache {
 public:
  explicit ObjectCache(Connections& connections) : connections_(connections) {}
  ObjectCache(const ObjectCache&) = delete;
  ObjectCache& operator=(const ObjectCache&) = delete;

  // The entry of an object, made on first use; entries live as long as the cache.
  CachedObject& object(const ObjectRef& ref);

  // Each sends one call that fills one slot, unless that call is out already.
  void requestRole(CachedObject& object);
  void requestStates(CachedObject& object);
  void requestExtents(CachedObject& object);
  // The name and the description, each its own call: never for an object that may be a
  // password text (the slots then fail at once).
  void requestName(CachedObject& object);
  void requestDescription(CachedObject& object);
  // The accessible id; fails at once for an application whose toolkit does not serve it.
  void requestIdentifier(CachedObject& object);
  // The value the role takes it from (texts, the Value interface, the state set); nothing
  // for an object that may be a password text.
  void requestValue(CachedObject& object);
  void requestChildren(CachedObject& object);
  void requestParent(CachedObject& object);
  // Starts the read-ahead of an object the walk is about to read (see above).
  // `depth`: levels below the element the walk is at.
  void readAhead(CachedObject& object, int depth);
  // The walk has reached the element: its children are read ahead, and theirs, to
  // kReadAheadDepth levels below it.
  void reached(CachedObject& object);

  // The object's children (listed once per run, so the listing stays as it is for as long
  // as the cache lives), or null when they cannot be had by the deadline.
  const Listing* listing(CachedObject& object, double deadline);
  // Serves the connections until none of `objects` (null entries aside) is `waiting`, or
  // the deadline; whether that came.
  bool awaitEach(const std::vector<CachedObject*>& objects, bool (*waiting)(const CachedObject&),
                 double deadline);
  // Forgets an object's children, so that the next listing asks again (a window still being
  // built). Listings handed out before stay valid until then only.
  void forgetChildren(CachedObject& object);
  // The children of an element that are on the screen, in the application's order: those
  // listed whose state set has `showing` (all of them in a toolkit that does not set it).
  // What the toolkit says is not showing (a hidden menu bar, the items of a closed menu, a
  // preloaded page, a hidden panel) is not on the screen, nor is anything below it: the walk
  // neither records it nor spends its visits there. A child whose state set cannot be read
  // (it has gone) is left out; absent when the children or their state sets cannot be had
  // by the deadline.
  std::optional<std::vector<ObjectRef>> shownChildren(CachedObject& object, double deadline);
  // The windows among an application's children: a window role, showing or iconified
  // (hidden menus and closed dialogs stay among the children). Each child's state is read
  // afresh. Absent when the children or their roles and states cannot be had in time.
  std::optional<std::vector<ObjectRef>> applicationWindows(CachedObject& root, double deadline);
  // Where the root offers no Collection: the first window with the `active` state, and the
  // first element of it (breadth first, through showing elements only, at most
  // kFocusSearchLimit) with the `focused` state; each state read afresh. Absent when the
  // reads cannot be had by the deadline; an absent object when there is none.
  std::optional<std::optional<ObjectRef>> activeWindow(CachedObject& root, double deadline);
  // The focused element below the active window (as activeWindow found it).
  std::optional<std::optional<ObjectRef>> focusedElement(
      const std::optional<std::optional<ObjectRef>>& activeWindow, double deadline);
  Connections& connections() { return connections_; }
  Toolkits& toolkits() { return toolkits_; }

 private:
  template <class T, class Parse>
  void fill(CachedObject& object, Slot<T> CachedObject::*member, const Call& call, Parse parse,
            std::function<void(CachedObject&)> then = {});

  // The texts (name, description, value) of an element read ahead, once its role is known
  // to be safe and its extents show it on the screen.
  void readTextsAheadIfShown(CachedObject& object);
  // A top-level whose toolkit gives it a container's role (Qt: `filler`) is a window.
  void settleTopLevelRole(CachedObject& object);
  // The children of an element read ahead once its states say it is showing (or its
  // toolkit does not set that state): nothing below what is not on the screen is asked.
  void listAheadIfShowing(CachedObject& object);

  Connections& connections_;
  Toolkits toolkits_{connections_};
  std::unordered_map<ObjectRef, std::unique_ptr<CachedObject>, ObjectRefHash> objects_;
  int readAheadCount_ = 0;
};

}  // namespace nevo::lin
