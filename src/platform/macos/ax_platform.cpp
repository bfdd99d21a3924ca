#include "platform/macos/ax_platform.h"

#include <ApplicationServices/ApplicationServices.h>

#include "platform/macos/ax_values.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_values.h"

namespace nevo::macos {
namespace {

// A request about an Element of no accessibility object (the detached Element) is never
// sent: it fails as a request about an invalid element would.
constexpr AxStatus kNoElement = AxStatus::invalidElement;

// What a batch read says about one attribute: its value, kCFNull when it has none, or an
// AXValue of kind kAXValueTypeAXError with the error of this attribute alone.
AttributeRead batchItem(CFTypeRef item) {
  if (item != nullptr && CFGetTypeID(item) == AXValueGetTypeID() &&
      AXValueGetType(static_cast<AXValueRef>(item)) == kAXValueTypeAXError) {
    AXError error = kAXErrorFailure;
    if (!AXValueGetValue(static_cast<AXValueRef>(item), kAXValueTypeAXError, &error) ||
        error == kAXErrorSuccess) {
      error = kAXErrorFailure;  // an error value must say which error it is
    }
    return {axStatus(error), {}};
  }
  return {AxStatus::success, attrValue(item)};
}

}  // namespace

bool AxPlatform::isProcessTrusted() {
  return AXIsProcessTrusted() != 0;
}

Element AxPlatform::createApplicationElement(ProcessId pid) {
  return axElementOf(CfRef::adopt(AXUIElementCreateApplication(pid)));
}

Element AxPlatform::createSystemWideElement() {
  return axElementOf(CfRef::adopt(AXUIElementCreateSystemWide()));
}

void AxPlatform::setMessagingTimeout(const Element& element, float seconds) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return;
  // A refused time-out leaves the element with the one it had; nothing else to do.
  AXUIElementSetMessagingTimeout(ax, seconds);
}

AttributeRead AxPlatform::copyAttributeValue(const Element& element, std::string_view name) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return {kNoElement, {}};
  const CfRef attribute = cfString(name);
  if (!attribute) return {AxStatus::failure, {}};
  CFTypeRef raw = nullptr;
  const AXError error = AXUIElementCopyAttributeValue(ax, attribute.as<CFStringRef>(), &raw);
  // Ours whatever the outcome: a value handed out with an error is released unread.
  const CfRef value = CfRef::adopt(raw);
  if (error != kAXErrorSuccess) return {axStatus(error), {}};
  return {AxStatus::success, attrValue(value.get())};
}

std::vector<AttributeRead> AxPlatform::copyMultipleAttributeValues(const Element& element,
                                                                   AttributeNames names) {
  // Every read starts absent; a failure before the answer is taken apart only sets statuses.
  std::vector<AttributeRead> reads(names.size());
  const auto failAll = [&](AxStatus status) {
    for (AttributeRead& read : reads) read.status = status;
    return std::move(reads);
  };
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return failAll(kNoElement);

  std::vector<CfRef> strings;
  std::vector<const void*> items;
  strings.reserve(names.size());
  items.reserve(names.size());
  for (std::string_view name : names) {
    strings.push_back(cfString(name));
    if (!strings.back()) return failAll(AxStatus::failure);
    items.push_back(strings.back().get());
  }
  const CfRef attributes =
      CfRef::adopt(CFArrayCreate(kCFAllocatorDefault, items.data(),
                                 static_cast<CFIndex>(items.size()), &kCFTypeArrayCallBacks));
  if (!attributes) return failAll(AxStatus::failure);

  CFArrayRef raw = nullptr;
  // No options: an attribute's own error comes back in its place in the array, so that
  // one unreadable attribute does not spoil the others.
  const AXError error = AXUIElementCopyMultipleAttributeValues(
      ax, attributes.as<CFArrayRef>(), static_cast<AXCopyMultipleAttributeOptions>(0), &raw);
  const CfRef values = CfRef::adopt(raw);
  if (error != kAXErrorSuccess) return failAll(axStatus(error));
  if (!values || CFGetTypeID(values.get()) != CFArrayGetTypeID()) {
    return failAll(AxStatus::failure);
  }
  const CFArrayRef array = values.as<CFArrayRef>();
  const CFIndex count = CFArrayGetCount(array);
  // An answer shorter than the question leaves the rest failed.
  for (std::size_t i = 0; i < reads.size() && static_cast<CFIndex>(i) < count; ++i) {
    reads[i] = batchItem(CFArrayGetValueAtIndex(array, static_cast<CFIndex>(i)));
  }
  return reads;
}

CountRead AxPlatform::getAttributeValueCount(const Element& element, std::string_view name) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return {kNoElement, 0};
  const CfRef attribute = cfString(name);
  if (!attribute) return {AxStatus::failure, 0};
  CFIndex count = 0;
  const AXError error = AXUIElementGetAttributeValueCount(ax, attribute.as<CFStringRef>(), &count);
  if (error != kAXErrorSuccess) return {axStatus(error), 0};
  return {AxStatus::success, static_cast<long>(count)};
}

AttributeRead AxPlatform::copyAttributeValues(const Element& element, std::string_view name,
                                              long index, long maxCount) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return {kNoElement, {}};
  const CfRef attribute = cfString(name);
  if (!attribute) return {AxStatus::failure, {}};
  CFArrayRef raw = nullptr;
  const AXError error =
      AXUIElementCopyAttributeValues(ax, attribute.as<CFStringRef>(), index, maxCount, &raw);
  const CfRef values = CfRef::adopt(raw);
  if (error != kAXErrorSuccess) return {axStatus(error), {}};
  // An application that hands out more than was asked for: the rest is never taken apart.
  return {AxStatus::success, attrValue(values.get(), maxCount)};
}

AxStatus AxPlatform::setBooleanAttribute(const Element& element, std::string_view name,
                                         bool value) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return kNoElement;
  const CfRef attribute = cfString(name);
  if (!attribute) return AxStatus::failure;
  return axStatus(AXUIElementSetAttributeValue(ax, attribute.as<CFStringRef>(),
                                               value ? kCFBooleanTrue : kCFBooleanFalse));
}

AxStatus AxPlatform::performAction(const Element& element, std::string_view action) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return kNoElement;
  const CfRef name = cfString(action);
  if (!name) return AxStatus::failure;
  return axStatus(AXUIElementPerformAction(ax, name.as<CFStringRef>()));
}

ElementRead AxPlatform::copyElementAtPosition(const Element& systemWide, float x, float y) {
  const AXUIElementRef ax = axRef(systemWide);
  if (ax == nullptr) return {kNoElement, std::nullopt};
  AXUIElementRef raw = nullptr;
  const AXError error = AXUIElementCopyElementAtPosition(ax, x, y, &raw);
  CfRef hit = CfRef::adopt(raw);
  if (error != kAXErrorSuccess) return {axStatus(error), std::nullopt};
  if (!hit || CFGetTypeID(hit.get()) != AXUIElementGetTypeID()) {
    return {AxStatus::noValue, std::nullopt};
  }
  return {AxStatus::success, axElementOf(std::move(hit))};
}

}  // namespace nevo::macos
