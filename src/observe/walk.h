// The element walk behind the observation: a depth-first walk over the focused window's
// element tree that turns each qualifying element into an element record, within a visit
// budget, a record budget, a depth limit and a deadline.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "observe/observation.h"
#include "platform/attributes.h"
#include "platform/platform.h"

namespace nevo {

inline constexpr std::int64_t kVisitBudget = 500;
inline constexpr std::size_t kRecordBudget = 160;
inline constexpr int kDepthLimit = 25;
// The element found at a centre and at most this many minus one of its ancestors are
// compared with the element.
inline constexpr int kHitTestCandidates = 8;

// Visits one element at `path` and `depth`: counts it, records it if it qualifies, and
// walks its children unless it is protected or a limit says stop.
void visit(Platform& platform, ObservationState& state, const Element& element,
           const std::string& path, int depth, ProcessId pid);

// Appends the element's record when it qualifies. Returns whether the element is
// protected (a secure text field or protected content): its subtree is then not walked.
bool appendElement(Platform& platform, ObservationState& state, const Element& element,
                   std::string_view path, ProcessId pid);

// Whether the element that the system finds at the frame's centre is the element itself
// or lies at most seven levels below it.
bool centerIsExposed(Platform& platform, const ObservationState& state, const Element& element,
                     const Rect& frame);

}  // namespace nevo
