#include "platform/macos/ax_values.h"

#include <algorithm>

#include "platform/macos/cf_values.h"

namespace nevo::macos {

bool AxElement::sameObject(const ElementImpl& other) const {
  const auto* o = dynamic_cast<const AxElement*>(&other);
  return o != nullptr && CFEqual(ref(), o->ref()) != 0;
}

Element axElementOf(CfRef element) {
  if (!element) return Element(nullptr);
  return Element(std::make_shared<const AxElement>(std::move(element)));
}

AXUIElementRef axRef(const Element& element) {
  const AxElement* ax = element.as<AxElement>();
  return ax != nullptr ? ax->ref() : nullptr;
}

namespace {

AttrValue convert(CFTypeRef value, long maxCount, int depth);

AttrValue wrappedValue(AXValueRef value) {
  switch (AXValueGetType(value)) {
    case kAXValueTypeCGPoint: {
      CGPoint point{};
      if (AXValueGetValue(value, kAXValueTypeCGPoint, &point)) return PointValue{point.x, point.y};
      break;
    }
    case kAXValueTypeCGSize: {
      CGSize size{};
      if (AXValueGetValue(value, kAXValueTypeCGSize, &size)) {
        return SizeValue{size.width, size.height};
      }
      break;
    }
    case kAXValueTypeCGRect:
      return OtherValue{"rect"};
    case kAXValueTypeCFRange:
      return OtherValue{"range"};
    case kAXValueTypeAXError:
      return OtherValue{"error"};
    case kAXValueTypeIllegal:
      break;
  }
  return OtherValue{"value"};
}

AttrValue arrayValue(CFArrayRef array, long maxCount, int depth) {
  if (depth >= kArrayNestingLimit) return OtherValue{"array"};
  CFIndex count = CFArrayGetCount(array);
  if (maxCount >= 0) count = std::min<CFIndex>(count, maxCount);
  ArrayValue items;
  items.reserve(static_cast<std::size_t>(std::max<CFIndex>(count, 0)));
  for (CFIndex i = 0; i < count; ++i) {
    items.push_back(convert(CFArrayGetValueAtIndex(array, i), -1, depth + 1));
  }
  return items;
}

AttrValue convert(CFTypeRef value, long maxCount, int depth) {
  if (value == nullptr) return Absent{};
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) return utf8String(static_cast<CFStringRef>(value));
  if (type == CFBooleanGetTypeID()) {
    return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
  }
  if (type == CFNumberGetTypeID()) return numberValue(static_cast<CFNumberRef>(value));
  if (type == AXUIElementGetTypeID()) return axElementOf(CfRef::retain(value));
  if (type == AXValueGetTypeID()) return wrappedValue(static_cast<AXValueRef>(value));
  if (type == CFArrayGetTypeID()) {
    return arrayValue(static_cast<CFArrayRef>(value), maxCount, depth);
  }
  if (type == CFNullGetTypeID()) return Absent{};
  return OtherValue{"object"};
}

}  // namespace

AttrValue attrValue(CFTypeRef value, long maxCount) {
  return convert(value, maxCount, 0);
}

AxStatus axStatus(AXError error) {
  switch (error) {
    case kAXErrorSuccess:
      return AxStatus::success;
    case kAXErrorAttributeUnsupported:
      return AxStatus::attributeUnsupported;
    case kAXErrorNoValue:
      return AxStatus::noValue;
    case kAXErrorCannotComplete:
      return AxStatus::cannotComplete;
    case kAXErrorInvalidUIElement:
      return AxStatus::invalidElement;
    case kAXErrorActionUnsupported:
      return AxStatus::actionUnsupported;
    default:
      return AxStatus::failure;
  }
}

}  // namespace nevo::macos
