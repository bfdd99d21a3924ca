#include "platform/linux/attribute_reads.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/linux/atspi_roles.h"
#include "platform/linux/linux_element.h"

namespace nevo::lin {
namespace {

bool textAttribute(Attribute attribute) {
  return attribute == Attribute::title || attribute == Attribute::description ||
         attribute == Attribute::value;
}

}  // namespace

Attribute attributeNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, Attribute> kNames[] = {
      {"AXRole", Attribute::role},
      {"AXSubrole", Attribute::subrole},
      {"AXProtectedContent", Attribute::protectedContent},
      {"AXPosition", Attribute::position},
      {"AXSize", Attribute::size},
      {"AXEnabled", Attribute::enabled},
      {"AXIdentifier", Attribute::identifier},
      {"AXTitle", Attribute::title},
      {"AXDescription", Attribute::description},
      {"AXValue", Attribute::value},
      {"AXMinimized", Attribute::minimized},
      {"AXChildren", Attribute::children},
      {"AXParent", Attribute::parent},
      {"AXWindows", Attribute::windows},
      {"AXFocusedWindow", Attribute::focusedWindow},
      {"AXFocusedUIElement", Attribute::focusedElement},
  };
  for (const auto& [text, attribute] : kNames) {
    if (text == name) return attribute;
  }
  return Attribute::unsupported;
}

// The focus attributes of an application are searches of its tree (Collection.GetMatches):
// the first child that is active, the first element that is focused.
struct FocusSearch {
  bool asked = false;
  bool answered = false;
  std::optional<ObjectRef> found;
};

struct AttributeReader::Batch {
  CachedObject& object;
  double deadline;
  // The role as known when the batch was sent; the texts are asked only when it is safe.
  std::optional<std::uint32_t> role;
  bool safe = false;
  // Shared with the handlers, which may run after the wait has given up.
  std::shared_ptr<FocusSearch> focusedWindow = std::make_shared<FocusSearch>();
  std::shared_ptr<FocusSearch> focusedElement = std::make_shared<FocusSearch>();
  // Where the root offers no Collection: the active window, once found for this batch
  // (asked for both focus attributes, it is looked for once).
  std::optional<std::optional<std::optional<ObjectRef>>> activeWindow{};

  bool answered() const {
    const CachedObject& o = object;
    return !pending(o.role) && !pending(o.states) && !pending(o.extents) && !pending(o.name) &&
           !pending(o.description) && !pending(o.identifier) && !pending(o.text) &&
           !pending(o.number) && !pending(o.children) && !pending(o.parent) &&
           (!focusedWindow->asked || focusedWindow->answered) &&
           (!focusedElement->asked || focusedElement->answered);
  }
};

std::vector<AttributeRead> AttributeReader::read(CachedObject& object, AttributeNames names,
                                                 double deadline) {
  std::vector<Attribute> attributes;
  attributes.reserve(names.size());
  for (std::string_view name : names) attributes.push_back(attributeNamed(name));

  // Texts are asked for only once the role is known not to be a password field.
  const bool wantsTexts = std::any_of(attributes.begin(), attributes.end(), textAttribute);
  if (wantsTexts && stale(object.role, 0)) cache_.requestRole(object);
  // The focus is searched for in the way the application's toolkit allows, and what it
  // serves decides which identifiers are asked: its facts first (asked when the
  // application's element was made, so usually in already).
  const bool wantsFocus = std::any_of(attributes.begin(), attributes.end(), [](Attribute a) {
    return a == Attribute::focusedWindow || a == Attribute::focusedElement;
  });
  if (wantsFocus) cache_.toolkits().awaitFacts(object.ref.bus, deadline);
  if (wantsTexts) cache_.connections().await([&] { return !pending(object.role); }, deadline);

  Batch batch{object, deadline, object.role.value, object.knownSafe()};
  for (const Attribute attribute : attributes) request(batch, attribute);
  cache_.connections().await([&] { return batch.answered(); }, deadline);

  // The title last: that of an unnamed window is asked of the window manager, which reads the
  // window again; every other answer is taken first from what this batch received.
  std::vector<AttributeRead> reads(attributes.size());
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    if (attributes[i] != Attribute::title) reads[i] = answer(batch, attributes[i], deadline);
  }
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    if (attributes[i] == Attribute::title) reads[i] = answer(batch, attributes[i], deadline);
  }
  return reads;
}

void AttributeReader::request(Batch& batch, Attribute attribute) {
  CachedObject& object = batch.object;
  const auto search = [&](const std::shared_ptr<FocusSearch>& s, StateSet states, bool traverse) {
    if (s->asked) return;
    s->asked = true;
    const std::string bus = object.ref.bus;
    if (!cache_.connections().send(bus, getMatchesCall(object.ref, states, 1, traverse),
                                   [s, bus](const ReceivedMessage& reply) {
                                     s->answered = true;
                                     std::optional<std::vector<ObjectRef>> refs =
                                         referencesReply(reply, 1);
                                     if (refs && !refs->empty()) s->found = usable((*refs)[0], bus);
                                   })) {
      s->answered = true;
    }
  };
  switch (attribute) {
    case Attribute::role:
      if (stale(object.role, 0)) cache_.requestRole(object);
      if (stale(object.states, kBitRole)) cache_.requestStates(object);
      break;
    case Attribute::subrole:
      if (stale(object.role, 0)) cache_.requestRole(object);
      break;
    case Attribute::position:
      if (stale(object.extents, kBitPosition)) cache_.requestExtents(object);
      break;
    case Attribute::size:
      if (stale(object.extents, kBitSize)) cache_.requestExtents(object);
      break;
    case Attribute::enabled:
      if (stale(object.states, kBitEnabled)) cache_.requestStates(object);
      break;
    case Attribute::minimized:
      if (stale(object.states, kBitMinimized)) cache_.requestStates(object);
      break;
    case Attribute::identifier:
      if (stale(object.identifier, 0)) cache_.requestIdentifier(object);
      break;
    case Attribute::title:
      if (batch.safe && stale(object.name, kBitTitle)) cache_.requestName(object);
      break;
    case Attribute::description:
      if (batch.safe && stale(object.description, kBitDescription)) {
        cache_.requestDescription(object);
      }
      break;
    case Attribute::value:
      if (!batch.safe) break;
      switch (valueSource(*batch.role)) {
        case ValueSource::text:
          if (stale(object.text, kBitValue)) cache_.requestValue(object);
          break;
        case ValueSource::number:
          if (stale(object.number, kBitValue)) cache_.requestValue(object);
          break;
        case ValueSource::checked:
        case ValueSource::selected:
          if (stale(object.states, kBitValue)) cache_.requestStates(object);
          break;
        case ValueSource::none:
          break;
      }
      break;
    case Attribute::children:
      if (stale(object.children, 0)) cache_.requestChildren(object);
      break;
    case Attribute::parent:
      if (object.listedParent == nullptr && stale(object.parent, 0)) cache_.requestParent(object);
      break;
    // One call where the root offers Collection; otherwise the states are read (answer).
    case Attribute::focusedWindow:
      if (cache_.toolkits().facts(object.ref.bus).offersCollection()) {
        search(batch.focusedWindow, stateBit(State::active), false);
      }
      break;
    case Attribute::focusedElement:
      if (cache_.toolkits().facts(object.ref.bus).offersCollection()) {
        search(batch.focusedElement, stateBit(State::focused), true);
      }
      break;
    case Attribute::protectedContent:
    case Attribute::windows:
    case Attribute::unsupported:
      break;
  }
}

AttributeRead AttributeReader::answer(Batch& batch, Attribute attribute, double deadline) {
  switch (attribute) {
    case Attribute::role:
      return role(batch);
    case Attribute::subrole:
      return subrole(batch);
    case Attribute::position:
    case Attribute::size:
      return frame(batch, attribute);
    case Attribute::enabled:
    case Attribute::minimized:
      return state(batch, attribute);
    case Attribute::identifier:
      return identifier(batch);
    case Attribute::title:
    case Attribute::description:
      return text(batch, attribute, deadline);
    case Attribute::value:
      return value(batch);
    case Attribute::children:
      return children(batch, deadline);
    case Attribute::parent:
      return parent(batch);
    case Attribute::windows:
      return windows(batch, deadline);
    case Attribute::focusedWindow:
    case Attribute::focusedElement:
      return focus(batch, attribute, deadline);
    case Attribute::protectedContent:
    case Attribute::unsupported:
      break;
  }
  return failure(AxStatus::attributeUnsupported);
}

AttributeRead AttributeReader::role(Batch& batch) {
  CachedObject& object = batch.object;
  const std::uint32_t* role = take(object.role, 0);
  // The states tell a text of several lines (a text area) from a text field.
  const StateSet* states = take(object.states, kBitRole);
  markFailedRead(object.states, kBitRole);
  if (role == nullptr) return failure(failureOf(object.role.state));
  return success(axRole(*role, states != nullptr ? *states : 0));
}

AttributeRead AttributeReader::subrole(Batch& batch) {
  CachedObject& object = batch.object;
  const std::uint32_t* role = take(object.role, 0);
  if (role == nullptr) return failure(failureOf(object.role.state));
  if (axSubrole(*role).empty()) return failure(AxStatus::noValue);
  return success(std::string(axSubrole(*role)));
}

Workspace::Origin AttributeReader::originOfWindowAbove(CachedObject& object, double deadline) {
  CachedObject* top = &object;
  for (int depth = 0; top != nullptr && !top->topLevel() && depth < kAncestorLimit; ++depth) {
    top = top->listedParent;
  }
  if (top == nullptr || !top->topLevel()) return {};
  return workspace_.originOf(*top, deadline);
}

AttributeRead AttributeReader::frame(Batch& batch, Attribute attribute) {
  CachedObject& object = batch.object;
  const bool position = attribute == Attribute::position;
  const std::uint32_t bit = position ? kBitPosition : kBitSize;
  const Extents* extents = take(object.extents, bit);
  markFailedRead(object.extents, bit);
  if (extents == nullptr) return failure(failureOf(object.extents.state));
  if (object.topLevel() && *extents == Extents{}) {
    // A window with empty extents (GTK 4 minimized) has the frame X11 gives its window.
    if (const std::optional<ScreenRect> shown =
            workspace_.frameOfEmptyWindow(object, batch.deadline)) {
      if (position) return success(PointValue{shown->x, shown->y});
      return success(SizeValue{shown->width, shown->height});
    }
  }
  if (position) {
    // Coordinates relative to the element's top-level window are made the screen's.
    const Workspace::Origin origin = originOfWindowAbove(object, batch.deadline);
    return success(PointValue{double(extents->x) + origin.x, double(extents->y) + origin.y});
  }
  return success(SizeValue{double(extents->width), double(extents->height)});
}

AttributeRead AttributeReader::state(Batch& batch, Attribute attribute) {
  CachedObject& object = batch.object;
  const bool enabled = attribute == Attribute::enabled;
  const std::uint32_t bit = enabled ? kBitEnabled : kBitMinimized;
  const StateSet* states = take(object.states, bit);
  markFailedRead(object.states, bit);
  if (states == nullptr) return failure(failureOf(object.states.state));
  if (enabled) return success(isEnabled(*states));
  if (hasState(*states, State::iconified)) return success(true);
  // Toolkits that do not set the state on a minimized window: X11 tells.
  if (object.topLevel() && !cache_.toolkits().facts(object.ref.bus).setsIconified()) {
    if (const std::optional<bool> hidden = workspace_.clientHidden(object, batch.deadline)) {
      return success(*hidden);
    }
  }
  return success(false);
}

AttributeRead AttributeReader::identifier(Batch& batch) {
  CachedObject& object = batch.object;
  const std::string* id = take(object.identifier, 0);
  if (id == nullptr) return failure(failureOf(object.identifier.state));
  return success(*id);
}

AttributeRead AttributeReader::text(Batch& batch, Attribute attribute, double deadline) {
  if (!batch.safe) return failure(AxStatus::cannotComplete);
  CachedObject& object = batch.object;
  const bool title = attribute == Attribute::title;
  Slot<std::string>& slot = title ? object.name : object.description;
  const std::string* read = take(slot, title ? kBitTitle : kBitDescription);
  markFailedRead(slot, title ? kBitTitle : kBitDescription);
  if (read == nullptr) return failure(failureOf(slot.state));
  if (!title) return success(*read);
  if (read->empty() && windowRole(*batch.role)) {
    // A top-level window without an accessible name has the title the window manager
    // shows.
    const std::optional<ClientWindow> shown = workspace_.clientWindowOf(object, deadline);
    return success(shown ? shown->title : std::string());
  }
  return success(*read);
}

AttributeRead AttributeReader::value(Batch& batch) {
  if (!batch.safe) return failure(AxStatus::cannotComplete);
  CachedObject& object = batch.object;
  const ValueSource source = valueSource(*batch.role);
  switch (source) {
    case ValueSource::text: {
      const std::string* text = take(object.text, kBitValue);
      markFailedRead(object.text, kBitValue);
      if (text == nullptr) return failure(failureOf(object.text.state));
      return success(*text);
    }
    case ValueSource::number: {
      const double* number = take(object.number, kBitValue);
      markFailedRead(object.number, kBitValue);
      if (number == nullptr) return failure(failureOf(object.number.state));
      return success(NumberValue{*number, numberText(*number)});
    }
    case ValueSource::checked:
    case ValueSource::selected: {
      const StateSet* states = take(object.states, kBitValue);
      markFailedRead(object.states, kBitValue);
      if (states == nullptr) return failure(failureOf(object.states.state));
      const State state = source == ValueSource::checked ? State::checked : State::selected;
      const double on = hasState(*states, state) ? 1 : 0;
      return success(NumberValue{on, numberText(on)});
    }
    case ValueSource::none:
      break;
  }
  return failure(AxStatus::noValue);
}

AttributeRead AttributeReader::children(Batch& batch, double deadline) {
  // The children on the screen, as the walk counts them.
  const std::optional<std::vector<ObjectRef>> shown = cache_.shownChildren(batch.object, deadline);
  if (!shown) return failure(AxStatus::cannotComplete);
  return success(elementArray(*shown));
}

AttributeRead AttributeReader::parent(Batch& batch) {
  CachedObject& object = batch.object;
  // The element that listed this one is its parent, as the walk came down.
  if (object.listedParent != nullptr) return success(objectElement(object.listedParent->ref));
  const ObjectRef* parent = take(object.parent, 0);
  if (parent == nullptr) return failure(failureOf(object.parent.state));
  return success(objectElement(*parent));
}

AttributeRead AttributeReader::windows(Batch& batch, double deadline) {
  const std::optional<std::vector<ObjectRef>> windows =
      cache_.applicationWindows(batch.object, deadline);
  if (!windows) return failure(AxStatus::cannotComplete);
  return success(
      elementArray(workspace_.windowsOnDesktop(batch.object.ref.bus, *windows, deadline)));
}

AttributeRead AttributeReader::focus(Batch& batch, Attribute attribute, double deadline) {
  const FocusSearch& search =
      attribute == Attribute::focusedWindow ? *batch.focusedWindow : *batch.focusedElement;
  if (!search.asked) {
    // No Collection on the root: the states tell.
    if (!batch.activeWindow) batch.activeWindow = cache_.activeWindow(batch.object, deadline);
    const std::optional<std::optional<ObjectRef>> found =
        attribute == Attribute::focusedWindow
            ? *batch.activeWindow
            : cache_.focusedElement(*batch.activeWindow, deadline);
    if (!found) return failure(AxStatus::cannotComplete);
    if (!*found) return failure(AxStatus::noValue);
    return success(objectElement(**found));
  }
  if (search.found) return success(objectElement(*search.found));
  return failure(search.answered ? AxStatus::noValue : AxStatus::cannotComplete);
}

}  // namespace nevo::lin
