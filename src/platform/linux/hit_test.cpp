#include "platform/linux/hit_test.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/linux/atspi_roles.h"

namespace nevo::lin {

const ClientWindow* HitTest::topWindowAt(double x, double y) {
  const std::vector<ClientWindow>& clients = workspace_.windowsForHitTests();
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->viewable && !it->hidden && it->frame.contains(x, y)) return &*it;
  }
  return nullptr;
}

std::vector<CachedObject*> HitTest::childrenAt(CachedObject& parent, double x, double y,
                                               double deadline) {
  const Listing* listed = cache_.listing(parent, deadline);
  if (listed == nullptr) return {};
  const std::vector<CachedObject*>& children = listed->objects;
  for (CachedObject* child : children) {
    if (child == nullptr) continue;
    // What this run already read stands; only what was never asked is asked now.
    if (child->extents.state == SlotState::idle) cache_.requestExtents(*child);
    if (child->states.state == SlotState::idle) cache_.requestStates(*child);
  }
  cache_.awaitEach(
      children,
      [](const CachedObject& child) {
        return (pending(child.extents) && !child.extents.value) ||
               (pending(child.states) && !child.states.value);
      },
      deadline);
  // Where the toolkit sets `showing`, what is not showing is not on the screen.
  const bool filtered = cache_.toolkits().awaitFacts(parent.ref.bus, deadline).setsShowing();
  std::vector<CachedObject*> found;
  for (CachedObject* child : children) {
    if (child == nullptr || !child->extents.value || !child->states.value) continue;
    if (filtered && !hasState(*child->states.value, State::showing)) continue;
    const Extents& box = *child->extents.value;
    if (box.width > 0 && box.height > 0 && box.contains(x, y)) found.push_back(child);
  }
  return found;
}

bool HitTest::emptyContainerAt(CachedObject& element, double x, double y, double deadline) {
  if (stale(element.role, 0)) cache_.requestRole(element);
  cache_.connections().await([&] { return !pending(element.role); }, deadline);
  if (!element.role.value) return false;
  const std::string_view role = atspiRoleName(*element.role.value);
  if (role != "panel" && role != "filler") return false;
  return childrenAt(element, x, y, deadline).empty();
}

HitTestResult HitTest::elementAt(double x, double y, double deadline) {
  const ClientWindow* top = topWindowAt(x, y);
  if (top == nullptr) return {HitTestResult::Outcome::nothing, {}};
  auto known = windowsByClient_.find(top->id);
  if (known == windowsByClient_.end()) {
    known = windowsByClient_.emplace(top->id, workspace_.accessibleWindowOf(*top, deadline)).first;
  }
  if (!known->second) return {HitTestResult::Outcome::unanswered, {}};

  CachedObject* current = &cache_.object(*known->second);
  // In the window's own coordinates where its toolkit gives them relative to it.
  const Workspace::Origin origin = workspace_.originOf(*current, deadline);
  x -= origin.x;
  y -= origin.y;
  // The window a hit test lands in is the one the walk reads: reading it ahead from here
  // keeps the application busy while the descent waits.
  cache_.readAhead(*current, 0);
  for (int depth = 0; depth < kHitTestDepthLimit; ++depth) {
    const std::vector<CachedObject*> candidates = childrenAt(*current, x, y, deadline);
    if (candidates.empty()) break;
    // Where showing children overlap (an overlay over its main child), the one drawn last
    // is on top: toolkits draw children in the order they list them. A plain container
    // with nothing of its own at the point is no cover, though: Chromium lays empty panels
    // the size of its tab strip over it, and its page's panel spans its title bar's buttons.
    CachedObject* next = candidates.back();
    if (candidates.size() > 1) {
      for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        if (!emptyContainerAt(**it, x, y, deadline)) {
          next = *it;
          break;
        }
      }
    }
    current = next;
    // A control that is not enabled takes no input, and nor does what it holds: the point
    // is the control's. (GTK 4 reads a disabled button's label as enabled, and its own
    // point query passes over the button and the label alike.)
    if (!isEnabled(*current->states.value)) break;
  }
  return {HitTestResult::Outcome::found, current->ref};
}

std::optional<ObjectRef> HitTest::applicationElementAt(float x, float y, double deadline) {
  const ClientWindow* top = topWindowAt(x, y);
  if (top == nullptr) return std::nullopt;
  std::optional<ObjectRef> current = workspace_.accessibleWindowOf(*top, deadline);
  if (!current) return std::nullopt;
  struct Answer {
    bool answered = false;
    std::optional<ObjectRef> object;
  };
  for (int depth = 0; depth < kHitTestDepthLimit; ++depth) {
    // Shared with the handler, which may run after the wait has given up.
    auto next = std::make_shared<Answer>();
    const std::string bus = current->bus;
    if (!cache_.connections().send(
            bus,
            getAccessibleAtPointCall(*current, static_cast<std::int32_t>(std::floor(x)),
                                     static_cast<std::int32_t>(std::floor(y))),
            [next, bus](const ReceivedMessage& reply) {
              next->answered = true;
              if (std::optional<ObjectRef> ref = referenceReply(reply)) {
                next->object = usable(*ref, bus);
              }
            })) {
      break;
    }
    cache_.connections().await([&] { return next->answered; }, deadline);
    if (!next->object || *next->object == *current) break;
    current = next->object;
  }
  return current;
}

}  // namespace nevo::lin
