// The element at a screen point, answered from what the run has read rather than asked of
// the application: GTK 3 answers its own hit test one level at a time, which would cost a
// call per level for every hit test and the parents the core then climbs.
//
//   1. the topmost client window at the point in the stacking order that is viewable, not
//      iconified, and whose frame contains the point;
//   2. the accessible window it shows (settled once per run for each client window);
//   3. from that window down, the deepest element that is showing and contains the point,
//      taking at each level the last child in the application's order that does (the one
//      drawn on top), passing over a plain container (panel, filler) that has no child of its
//      own at the point when an earlier child has the point too (it covers nothing there).
//      Children and extents already read are used as they are; only what was never read
//      is asked.
#pragma once

#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/object_cache.h"
#include "platform/linux/workspace.h"

namespace nevo::lin {

// Deepest descent of a hit test below the window.
inline constexpr int kHitTestDepthLimit = 64;

// What a hit test found: an object, nothing at the point (no window there), or no answer
// (the window's application could not be read in time).
struct HitTestResult {
  enum class Outcome { found, nothing, unanswered };
  Outcome outcome = Outcome::nothing;
  ObjectRef object;
};

class HitTest {
 public:
  HitTest(ObjectCache& cache, Workspace& workspace) : cache_(cache), workspace_(workspace) {}

  HitTestResult elementAt(double x, double y, double deadline);
  // The element at the point as the application itself answers it, descending with its
  // own hit test one level at a time (for measuring the agreement of the two).
  std::optional<ObjectRef> applicationElementAt(float x, float y, double deadline);

 private:
  const ClientWindow* topWindowAt(double x, double y);
  // The children of an element that are showing and whose extents contain the point, in the
  // application's order.
  std::vector<CachedObject*> childrenAt(CachedObject& parent, double x, double y, double deadline);
  // Whether an element is a plain container (a panel or filler) with no child at the point.
  bool emptyContainerAt(CachedObject& element, double x, double y, double deadline);

  ObjectCache& cache_;
  Workspace& workspace_;
  std::unordered_map<xcb_window_t, std::optional<ObjectRef>> windowsByClient_;
};

}  // namespace nevo::lin
