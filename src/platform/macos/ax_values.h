// Accessibility elements and attribute values of the macOS accessibility interface, as the
// core's Element and AttrValue.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

namespace nevo::macos {

// An accessibility element: it holds one reference to its AXUIElementRef and releases it
// when the last Element copy goes away. Two are the same object when CFEqual says so.
class AxElement final : public ElementImpl {
 public:
  explicit AxElement(CfRef element) : element_(std::move(element)) {}
  AXUIElementRef ref() const { return element_.as<AXUIElementRef>(); }
  bool sameObject(const ElementImpl& other) const override;

 private:
  CfRef element_;
};

// An Element over the reference held by `element` (a null one gives the detached Element,
// which no request reaches).
Element axElementOf(CfRef element);

// The AXUIElementRef behind an Element, or null for an Element of no accessibility object.
AXUIElementRef axRef(const Element& element);

// Arrays nested deeper than this are not taken apart: no attribute the tool reads holds
// one, and the depth of another application's value must not decide the depth of the
// tool's stack.
inline constexpr int kArrayNestingLimit = 8;

// The value lent to us (the Get rule: `value` is not released here) as an AttrValue:
// strings, numbers, booleans (kept apart from numbers), elements (each retained by its
// Element), arrays (of at most `maxCount` items when maxCount is not negative), points and
// sizes; null and kCFNull are absent; anything else is "other".
AttrValue attrValue(CFTypeRef value, long maxCount = -1);

// The core's status for an accessibility error code.
AxStatus axStatus(AXError error);

}  // namespace nevo::macos
