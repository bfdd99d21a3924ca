#include "platform/linux/object_cache.h"

#include <algorithm>
#include <cmath>

#include "platform/linux/atspi_roles.h"

namespace nevo::lin {
namespace {

// Texts that may be long are read in two steps: their length, then at most the limit.
bool longText(std::uint32_t role) {
  const std::string_view name = atspiRoleName(role);
  return name == "text" || name == "terminal" || name == "document text" || name == "paragraph" ||
         name == "editbar";
}

template <class T>
void failNow(Slot<T>& slot) {
  slot.state = SlotState::failed;
  slot.value.reset();
  slot.served = 0;
}

}  // namespace

bool CachedObject::knownSafe() const {
  return role.value && !protectedRole(*role.value);
}

bool CachedObject::topLevel() const {
  return listedParent != nullptr && listedParent->ref.path == kRootPath;
}

std::optional<ObjectRef> usable(ObjectRef ref, const std::string& bus) {
  if (ref.bus.empty()) ref.bus = bus;
  if (ref.null() || !validBusName(ref.bus) || !validObjectPath(ref.path)) return std::nullopt;
  return ref;
}

CachedObject& ObjectCache::object(const ObjectRef& ref) {
  std::unique_ptr<CachedObject>& entry = objects_[ref];
  if (!entry) {
    entry = std::make_unique<CachedObject>();
    entry->ref = ref;
  }
  return *entry;
}

template <class T, class Parse>
void ObjectCache::fill(CachedObject& object, Slot<T> CachedObject::*member, const Call& call,
                       Parse parse, std::function<void(CachedObject&)> then) {
  Slot<T>& slot = object.*member;
  if (slot.state == SlotState::pending) return;
  slot.state = SlotState::pending;
  // Entries never move or go away while the cache lives, so the handler may keep a pointer
  // to one even when its reply comes after the caller stopped waiting.
  CachedObject* target = &object;
  const bool sent = connections_.send(object.ref.bus, call,
                                      [target, member, parse, then](const ReceivedMessage& reply) {
                                        Slot<T>& s = target->*member;
                                        std::optional<T> value = parse(reply);
                                        s.state = value ? SlotState::ready : SlotState::failed;
                                        s.value = std::move(value);
                                        s.served = 0;
                                        if (then) then(*target);
                                      });
  if (!sent) failNow(slot);
}

void ObjectCache::requestRole(CachedObject& object) {
  fill(
      object, &CachedObject::role, getRoleCall(object.ref),
      [](const ReceivedMessage& reply) { return uint32Reply(reply); },
      [this](CachedObject& target) {
        settleTopLevelRole(target);
        if (!target.readAhead || !target.knownSafe()) return;
        readTextsAheadIfShown(target);
        // Children listed before the role was known are read ahead now.
        if (target.walked && target.children.value && target.aheadDepth < kReadAheadDepth) {
          for (CachedObject* child : target.children.value->objects) {
            if (child != nullptr) readAhead(*child, target.aheadDepth + 1);
          }
        }
      });
}

void ObjectCache::requestStates(CachedObject& object) {
  fill(
      object, &CachedObject::states, getStateCall(object.ref),
      [](const ReceivedMessage& reply) { return stateReply(reply); },
      [this](CachedObject& target) {
        if (target.readAhead) listAheadIfShowing(target);
      });
}

void ObjectCache::listAheadIfShowing(CachedObject& object) {
  // The children follow the states, and only for an element that is showing: what is below
  // one that is not is no child of the walk's (shownChildren), where the toolkit sets that
  // state.
  if (!object.walked || object.children.state != SlotState::idle) return;
  if (!object.states.value) return;
  if (!hasState(*object.states.value, State::showing)) {
    const ToolkitFacts& facts = toolkits_.facts(object.ref.bus);
    if (!facts.known() || facts.setsShowing()) return;
  }
  requestChildren(object);
}

void ObjectCache::requestExtents(CachedObject& object) {
  fill(
      object, &CachedObject::extents, getExtentsCall(object.ref),
      [](const ReceivedMessage& reply) {
        std::optional<Extents> extents = extentsReply(reply);
        // What the toolkit does not draw has no frame on the screen: no record, and no hit
        // test finds it.
        if (extents && notDrawn(*extents)) return std::optional<Extents>();
        return extents;
      },
      [this](CachedObject& target) {
        if (target.readAhead && target.knownSafe()) readTextsAheadIfShown(target);
      });
}

void ObjectCache::settleTopLevelRole(CachedObject& object) {
  if (!object.topLevel() || !object.role.value) return;
  const std::string_view name = atspiRoleName(*object.role.value);
  if (name == "filler" || name == "panel") object.role.value = kRoleFrame;
}

void ObjectCache::readTextsAheadIfShown(CachedObject& object) {
  // The core reads the texts only of an element with a frame on the screen: ahead of time,
  // they are asked once the extents say there is one.
  if (object.extents.state != SlotState::ready || !object.extents.value) return;
  const Extents& extents = *object.extents.value;
  if (extents.width <= 0 || extents.height <= 0) return;
  if (object.name.state == SlotState::idle) requestName(object);
  if (object.description.state == SlotState::idle) requestDescription(object);
  if (object.text.state == SlotState::idle && object.number.state == SlotState::idle &&
      object.characterCount.state == SlotState::idle) {
    requestValue(object);
  }
}

void ObjectCache::requestName(CachedObject& object) {
  // Never for an element that may be a password field.
  if (!object.knownSafe()) {
    failNow(object.name);
    return;
  }
  fill(object, &CachedObject::name, getPropertyCall(object.ref, kAccessibleInterface, "Name"),
       [](const ReceivedMessage& reply) { return variantStringReply(reply); });
}

void ObjectCache::requestDescription(CachedObject& object) {
  if (!object.knownSafe()) {
    failNow(object.description);
    return;
  }
  fill(object, &CachedObject::description,
       getPropertyCall(object.ref, kAccessibleInterface, "Description"),
       [](const ReceivedMessage& reply) { return variantStringReply(reply); });
}

void ObjectCache::requestIdentifier(CachedObject& object) {
  if (!toolkits_.facts(object.ref.bus).servesAccessibleId()) {
    failNow(object.identifier);
    return;
  }
  fill(object, &CachedObject::identifier,
       getPropertyCall(object.ref, kAccessibleInterface, "AccessibleId"),
       [](const ReceivedMessage& reply) { return variantStringReply(reply); });
}

void ObjectCache::requestValue(CachedObject& object) {
  if (!object.knownSafe()) return;
  const std::uint32_t role = *object.role.value;
  switch (valueSource(role)) {
    case ValueSource::text:
      if (!longText(role)) {
        // Short texts (labels, entries) come in one call, as far as the tool keeps them.
        fill(object, &CachedObject::text, getTextCall(object.ref, kTextValueLimit),
             [](const ReceivedMessage& reply) { return stringReply(reply); });
        return;
      }
      fill(
          object, &CachedObject::characterCount,
          getPropertyCall(object.ref, kTextInterface, "CharacterCount"),
          [](const ReceivedMessage& reply) { return variantInt32Reply(reply); },
          [this](CachedObject& target) {
            target.text.state = SlotState::idle;
            if (!target.characterCount.value) {
              failNow(target.text);
              return;
            }
            const std::int32_t count = std::clamp(*target.characterCount.value, 0, kTextValueLimit);
            fill(target, &CachedObject::text, getTextCall(target.ref, count),
                 [](const ReceivedMessage& reply) { return stringReply(reply); });
          });
      // The contents follow once the length is known: the slot waits from now on.
      if (object.characterCount.state == SlotState::pending) {
        object.text.state = SlotState::pending;
      } else if (object.text.state != SlotState::pending) {
        object.text.state = SlotState::failed;
        object.text.value.reset();
      }
      return;
    case ValueSource::number:
      fill(object, &CachedObject::number,
           getPropertyCall(object.ref, kValueInterface, "CurrentValue"),
           [](const ReceivedMessage& reply) {
             std::optional<double> value = variantDoubleReply(reply);
             if (value && !std::isfinite(*value)) value.reset();
             return value;
           });
      return;
    case ValueSource::checked:
    case ValueSource::selected:
      // The state set is read with the deciding attributes anyway.
      if (object.states.state == SlotState::idle) requestStates(object);
      return;
    case ValueSource::none:
      return;
  }
}

void ObjectCache::requestChildren(CachedObject& object) {
  const std::string bus = object.ref.bus;
  fill(
      object, &CachedObject::children, getChildrenCall(object.ref),
      [bus](const ReceivedMessage& reply) -> std::optional<Listing> {
        std::optional<std::vector<ObjectRef>> refs = referencesReply(reply, kChildListingLimit);
        if (!refs) return std::nullopt;
        Listing listing;
        for (ObjectRef& ref : *refs) {
          std::optional<ObjectRef> child = usable(std::move(ref), bus);
          // An unusable reference keeps its place, so that positions do not shift.
          listing.children.push_back(child ? std::move(*child) : ObjectRef{});
        }
        return listing;
      },
      [this](CachedObject& target) {
        if (!target.children.value) return;
        // Nothing below a password field is read ahead, and nothing below an element whose
        // role is not known yet (its role handler takes over).
        const bool safe = target.knownSafe();
        Listing& listing = *target.children.value;
        listing.objects.reserve(listing.children.size());
        for (const ObjectRef& ref : listing.children) {
          if (ref.null()) {
            listing.objects.push_back(nullptr);
            continue;
          }
          CachedObject& child = this->object(ref);
          listing.objects.push_back(&child);
          child.listedParent = &target;
          settleTopLevelRole(child);
          if (target.walked && safe && target.aheadDepth < kReadAheadDepth) {
            readAhead(child, target.aheadDepth + 1);
          }
        }
      });
}

void ObjectCache::requestParent(CachedObject& object) {
  const std::string bus = object.ref.bus;
  fill(object, &CachedObject::parent, getPropertyCall(object.ref, kAccessibleInterface, "Parent"),
       [bus](const ReceivedMessage& reply) -> std::optional<ObjectRef> {
         std::optional<ObjectRef> parent = variantReferenceReply(reply);
         if (!parent) return std::nullopt;
         return usable(std::move(*parent), bus);
       });
}

void ObjectCache::reached(CachedObject& object) {
  object.walked = true;
  object.aheadDepth = 0;
  if (object.children.value && object.knownSafe()) {
    for (CachedObject* child : object.children.value->objects) {
      if (child != nullptr) readAhead(*child, 1);
    }
  }
}

void ObjectCache::readAhead(CachedObject& object, int depth) {
  if (object.readAhead) {
    // Reached again from nearer the walk: what lies below it is read ahead further.
    if (depth >= object.aheadDepth) return;
    object.aheadDepth = depth;
    if (object.children.value && object.knownSafe() && depth < kReadAheadDepth) {
      for (CachedObject* child : object.children.value->objects) {
        if (child != nullptr) readAhead(*child, depth + 1);
      }
    }
    return;
  }
  if (readAheadCount_ >= kReadAheadLimit) return;
  object.readAhead = true;
  object.walked = true;
  object.aheadDepth = std::min(object.aheadDepth, depth);
  ++readAheadCount_;
  // What decides protection, the frame and qualification, and the children; the texts
  // follow once the role is known not to be a password field (requestRole) and the extents
  // show the element (requestExtents).
  if (object.role.state == SlotState::idle) {
    requestRole(object);
  } else if (object.knownSafe()) {
    readTextsAheadIfShown(object);
  }
  if (object.states.state == SlotState::idle) requestStates(object);
  if (object.extents.state == SlotState::idle) requestExtents(object);
  if (object.identifier.state == SlotState::idle) requestIdentifier(object);
  if (object.children.state == SlotState::idle) {
    listAheadIfShowing(object);
  } else if (object.children.value && object.knownSafe() && object.aheadDepth < kReadAheadDepth) {
    for (CachedObject* child : object.children.value->objects) {
      if (child != nullptr) readAhead(*child, object.aheadDepth + 1);
    }
  }
}

const Listing* ObjectCache::listing(CachedObject& object, double deadline) {
  if (stale(object.children, 0)) requestChildren(object);
  connections_.await([&] { return !pending(object.children); }, deadline);
  if (!object.children.value) return nullptr;
  return &*object.children.value;
}

bool ObjectCache::awaitEach(const std::vector<CachedObject*>& objects,
                            bool (*waiting)(const CachedObject&), double deadline) {
  return connections_.await(
      [&] {
        return std::none_of(objects.begin(), objects.end(),
                            [&](const CachedObject* at) { return at != nullptr && waiting(*at); });
      },
      deadline);
}

void ObjectCache::forgetChildren(CachedObject& object) {
  if (pending(object.children)) return;
  object.children.state = SlotState::idle;
  object.children.value.reset();
  object.children.served = 0;
}

std::optional<std::vector<ObjectRef>> ObjectCache::shownChildren(CachedObject& object,
                                                                 double deadline) {
  const Listing* listed = listing(object, deadline);
  if (listed == nullptr) return std::nullopt;
  const std::vector<CachedObject*>& children = listed->objects;
  if (!toolkits_.awaitFacts(object.ref.bus, deadline).setsShowing()) {
    std::vector<ObjectRef> all;
    for (const CachedObject* child : children) {
      if (child != nullptr) all.push_back(child->ref);
    }
    return all;
  }
  // Read ahead with the listing, as a rule; asked here only when they were not.
  for (CachedObject* child : children) {
    if (child != nullptr && child->states.state == SlotState::idle) requestStates(*child);
  }
  const bool complete = awaitEach(
      children, [](const CachedObject& child) { return pending(child.states) && !child.states.value; },
      deadline);
  if (!complete) return std::nullopt;
  std::vector<ObjectRef> shown;
  for (const CachedObject* child : children) {
    if (child != nullptr && child->states.value && hasState(*child->states.value, State::showing)) {
      shown.push_back(child->ref);
    }
  }
  return shown;
}

std::optional<std::vector<ObjectRef>> ObjectCache::applicationWindows(CachedObject& root,
                                                                      double deadline) {
  const Listing* listed = listing(root, deadline);
  if (listed == nullptr) return std::nullopt;
  const std::vector<CachedObject*>& children = listed->objects;
  // Each child's role and its current state: a window counts while it is shown or
  // iconified.
  for (CachedObject* child : children) {
    if (child == nullptr) continue;
    if (stale(child->role, 0)) requestRole(*child);
    if (!pending(child->states)) requestStates(*child);
  }
  const bool complete = awaitEach(
      children,
      [](const CachedObject& child) { return pending(child.role) || pending(child.states); },
      deadline);
  if (!complete) return std::nullopt;
  std::vector<ObjectRef> windows;
  for (const CachedObject* child : children) {
    if (child == nullptr) continue;
    // (A top-level with a container's role has been given a window's: settleTopLevelRole.)
    if (!child->role.value || !windowRole(*child->role.value) || !child->states.value) continue;
    const StateSet states = *child->states.value;
    if (hasState(states, State::showing) || hasState(states, State::iconified)) {
      windows.push_back(child->ref);
    }
  }
  return windows;
}

std::optional<std::optional<ObjectRef>> ObjectCache::activeWindow(CachedObject& root,
                                                                  double deadline) {
  const std::optional<std::vector<ObjectRef>> windows = applicationWindows(root, deadline);
  if (!windows) return std::nullopt;
  for (const ObjectRef& ref : *windows) {
    const CachedObject& window = object(ref);
    if (window.states.value && hasState(*window.states.value, State::active)) return ref;
  }
  return std::optional<ObjectRef>();
}

std::optional<std::optional<ObjectRef>> ObjectCache::focusedElement(
    const std::optional<std::optional<ObjectRef>>& window, double deadline) {
  if (!window || !*window) return window;
  // Level by level: every listing of a level, then every state of the next, each sent
  // together, so that a level costs about two round trips.
  std::vector<CachedObject*> level{&object(**window)};
  std::size_t read = 0;
  while (!level.empty() && read < kFocusSearchLimit) {
    for (CachedObject* at : level) {
      if (stale(at->children, 0)) requestChildren(*at);
    }
    if (!awaitEach(level, [](const CachedObject& at) { return pending(at.children); }, deadline)) {
      return std::nullopt;
    }
    std::vector<CachedObject*> next;
    for (CachedObject* at : level) {
      if (!at->children.value) continue;
      for (CachedObject* child : at->children.value->objects) {
        if (child == nullptr || read >= kFocusSearchLimit) continue;
        ++read;
        if (!pending(child->states)) requestStates(*child);
        next.push_back(child);
      }
    }
    if (!awaitEach(next, [](const CachedObject& at) { return pending(at.states); }, deadline)) {
      return std::nullopt;
    }
    level.clear();
    for (CachedObject* child : next) {
      if (!child->states.value) continue;
      const StateSet states = *child->states.value;
      if (hasState(states, State::focused)) return child->ref;
      // The focused element is shown, and so is every element above it.
      if (hasState(states, State::showing)) level.push_back(child);
    }
  }
  return std::optional<ObjectRef>();
}

}  // namespace nevo::lin
