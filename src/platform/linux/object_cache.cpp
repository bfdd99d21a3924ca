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

bool ToolkitFacts::setsShowing() const {
  return !(name == "GTK" && version.rfind("4.", 0) == 0);
}

const ToolkitFacts& ObjectCache::toolkit(const std::string& bus) {
  std::shared_ptr<ToolkitFacts>& facts = toolkits_[bus];
  if (facts) return *facts;
  facts = std::make_shared<ToolkitFacts>();
  const ObjectRef root{bus, std::string(kRootPath)};
  for (const char* property : {"ToolkitName", "Version"}) {
    const bool name = std::string_view(property) == "ToolkitName";
    const std::shared_ptr<ToolkitFacts> target = facts;
    if (!connections_.send(bus, getPropertyCall(root, kApplicationInterface, property),
                           [target, name](const ReceivedMessage& reply) {
                             ++target->answers;
                             std::string value = variantStringReply(reply).value_or("");
                             (name ? target->name : target->version) = std::move(value);
                           })) {
      ++facts->answers;
    }
  }
  return *facts;
}

bool CachedObject::knownSafe() const {
  return role.value && !protectedRole(*role.value);
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
        if (!target.readAhead || !target.knownSafe()) return;
        requestProperties(target);
        readValueAheadIfShown(target);
        // Children listed before the role was known are read ahead now.
        if (target.walked && target.children.value) {
          for (CachedObject* child : target.children.value->objects) {
            if (child != nullptr) readAhead(*child);
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
  // The children follow the properties and the states, and only when the child count says
  // there are some (a call fewer for every leaf, which is most of a tree) and the element is
  // showing (what is below one that is not is no child of the walk's), where the toolkit
  // sets that state.
  if (!object.walked || object.children.state != SlotState::idle) return;
  if (!object.properties.value || object.properties.value->childCount <= 0) return;
  if (!object.states.value) return;
  const ToolkitFacts& facts = toolkit(object.ref.bus);
  if (!hasState(*object.states.value, State::showing) &&
      (facts.answers < 2 || facts.setsShowing())) {
    return;
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
        if (target.readAhead && target.knownSafe()) readValueAheadIfShown(target);
      });
}

void ObjectCache::readValueAheadIfShown(CachedObject& object) {
  // The value is read with the texts, which are read only for an element with a frame on
  // the screen: ahead of time, it is asked once the extents say there is one.
  if (object.extents.state != SlotState::ready || !object.extents.value) return;
  const Extents& extents = *object.extents.value;
  if (extents.width <= 0 || extents.height <= 0) return;
  if (object.text.state == SlotState::idle && object.number.state == SlotState::idle &&
      object.characterCount.state == SlotState::idle) {
    requestValue(object);
  }
}

void ObjectCache::requestProperties(CachedObject& object) {
  // The properties carry the name: never for an element that may be a password field.
  if (!object.knownSafe()) {
    object.properties.state = SlotState::failed;
    object.properties.value.reset();
    return;
  }
  const std::string bus = object.ref.bus;
  fill(
      object, &CachedObject::properties, getAllPropertiesCall(object.ref, kAccessibleInterface),
      [bus](const ReceivedMessage& reply) {
        std::optional<AccessibleProperties> properties = accessiblePropertiesReply(reply);
        if (properties && properties->parent) {
          properties->parent = usable(*properties->parent, bus);
        }
        return properties;
      },
      [this](CachedObject& target) { listAheadIfShowing(target); });
}

void ObjectCache::requestIdentifier(CachedObject& object) {
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
          if (target.walked && safe) readAhead(child);
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

void ObjectCache::readAhead(CachedObject& object) {
  if (object.readAhead || readAheadCount_ >= kReadAheadLimit) return;
  object.readAhead = true;
  object.walked = true;
  ++readAheadCount_;
  // What decides protection, the frame and qualification; the texts follow once the role
  // is known not to be a password field (requestRole).
  if (object.role.state == SlotState::idle) {
    requestRole(object);
  } else if (object.knownSafe()) {
    if (object.properties.state == SlotState::idle) {
      requestProperties(object);
    } else {
      listAheadIfShowing(object);
    }
    readValueAheadIfShown(object);
  }
  if (object.states.state == SlotState::idle) requestStates(object);
  if (object.extents.state == SlotState::idle) requestExtents(object);
}

const Listing* ObjectCache::listing(CachedObject& object, double deadline) {
  if (stale(object.children, 0)) requestChildren(object);
  connections_.await([&] { return !pending(object.children); }, deadline);
  if (!object.children.value) return nullptr;
  return &*object.children.value;
}

std::optional<std::vector<ObjectRef>> ObjectCache::shownChildren(CachedObject& object,
                                                                 double deadline) {
  const Listing* listed = listing(object, deadline);
  if (listed == nullptr) return std::nullopt;
  const std::vector<CachedObject*>& children = listed->objects;
  const ToolkitFacts& facts = toolkit(object.ref.bus);
  connections_.await([&] { return facts.answers == 2; }, deadline);
  if (!facts.setsShowing()) {
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
  const bool complete = connections_.await(
      [&] {
        return std::none_of(children.begin(), children.end(), [](const CachedObject* child) {
          return child != nullptr && pending(child->states) && !child->states.value;
        });
      },
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
  const bool complete = connections_.await(
      [&] {
        return std::none_of(children.begin(), children.end(), [](const CachedObject* child) {
          return child != nullptr && (pending(child->role) || pending(child->states));
        });
      },
      deadline);
  if (!complete) return std::nullopt;
  std::vector<ObjectRef> windows;
  for (const CachedObject* child : children) {
    if (child == nullptr) continue;
    if (!child->role.value || !windowRole(*child->role.value) || !child->states.value) continue;
    const StateSet states = *child->states.value;
    if (hasState(states, State::showing) || hasState(states, State::iconified)) {
      windows.push_back(child->ref);
    }
  }
  return windows;
}

}  // namespace nevo::lin
