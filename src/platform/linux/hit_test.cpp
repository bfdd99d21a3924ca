#include "platform/linux/hit_test.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace nevo::lin {

const ClientWindow* HitTest::topWindowAt(double x, double y) {
  const std::vector<ClientWindow>& clients = workspace_.windowsForHitTests();
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->viewable && !it->hidden && it->frame.contains(x, y)) return &*it;
  }
  return nullptr;
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
    const Listing* listed = cache_.listing(*current, deadline);
    if (listed == nullptr) break;
    const std::vector<CachedObject*>& children = listed->objects;
    for (CachedObject* child : children) {
      if (child == nullptr) continue;
      // What this run already read stands; only what was never asked is asked now.
      if (child->extents.state == SlotState::idle) cache_.requestExtents(*child);
      if (child->states.state == SlotState::idle) cache_.requestStates(*child);
    }
    cache_.connections().await(
        [&] {
          return std::none_of(children.begin(), children.end(), [](const CachedObject* child) {
            return child != nullptr && ((pending(child->extents) && !child->extents.value) ||
                                        (pending(child->states) && !child->states.value));
          });
        },
        deadline);
    // Where showing children overlap (an overlay over its main child), the one drawn last
    // is on top: GTK draws children in the order it lists them.
    CachedObject* next = nullptr;
    for (CachedObject* child : children) {
      if (child == nullptr || !child->extents.value || !child->states.value) continue;
      if (!hasState(*child->states.value, State::showing)) continue;
      const Extents& box = *child->extents.value;
      if (box.width > 0 && box.height > 0 && box.contains(x, y)) next = child;
    }
    if (next == nullptr) break;
    current = next;
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
