#include "platform/macos/ax_platform.h"

#include <ApplicationServices/ApplicationServices.h>

#include <type_traits>

#include "platform/macos/ax_values.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_run_loop.h"
#include "platform/macos/cf_values.h"

namespace nevo::macos {
namespace {

// What the code relies on of the accessibility declarations: success is 0, and an error
// value wrapped in an AXValue is read back into an AXError; process identifiers, counts and
// indices pass between the core's types and the system's unchanged.
static_assert(kAXErrorSuccess == 0);
static_assert(sizeof(AXError) == sizeof(int32_t));
static_assert(sizeof(pid_t) == sizeof(ProcessId) && std::is_signed_v<pid_t>);
static_assert(std::is_same_v<CFIndex, long>);

// A request about an Element of no accessibility object (the detached Element) is never
// sent: it fails as a request about an invalid element would.
constexpr AxStatus kNoElement = AxStatus::invalidElement;

// The core's status for the error of a request; a refusal of the interface is noted in
// `refused`, which the permission gate reads.
AxStatus noted(AXError error, bool& refused) {
  if (error == kAXErrorAPIDisabled) refused = true;
  return axStatus(error);
}

// What a batch read says about one attribute: its value, kCFNull when it has none, or an
// AXValue of kind kAXValueTypeAXError with the error of this attribute alone.
AttributeRead batchItem(CFTypeRef item, bool& refused) {
  if (item != nullptr && CFGetTypeID(item) == AXValueGetTypeID() &&
      AXValueGetType(static_cast<AXValueRef>(item)) == kAXValueTypeAXError) {
    AXError error = kAXErrorFailure;
    if (!AXValueGetValue(static_cast<AXValueRef>(item), kAXValueTypeAXError, &error) ||
        error == kAXErrorSuccess) {
      error = kAXErrorFailure;  // an error value must say which error it is
    }
    return {noted(error, refused), {}};
  }
  return {AxStatus::success, attrValue(item)};
}

}  // namespace

bool AxPlatform::isProcessTrusted() {
  // Once the system has refused a request, the permission is gone whatever the trust check
  // says: the command gives its permission-denied reply (the core asks again at its end).
  if (refused_) return false;
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
  noted(AXUIElementSetMessagingTimeout(ax, seconds), refused_);
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
  if (error != kAXErrorSuccess) return {noted(error, refused_), {}};
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
  if (error != kAXErrorSuccess) return failAll(noted(error, refused_));
  if (!values || CFGetTypeID(values.get()) != CFArrayGetTypeID()) {
    return failAll(AxStatus::failure);
  }
  const CFArrayRef array = values.as<CFArrayRef>();
  const CFIndex count = CFArrayGetCount(array);
  // An answer shorter than the question leaves the rest failed.
  for (std::size_t i = 0; i < reads.size() && static_cast<CFIndex>(i) < count; ++i) {
    reads[i] = batchItem(CFArrayGetValueAtIndex(array, static_cast<CFIndex>(i)), refused_);
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
  if (error != kAXErrorSuccess) return {noted(error, refused_), 0};
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
  if (error != kAXErrorSuccess) return {noted(error, refused_), {}};
  // An application that hands out more than was asked for: the rest is never taken apart.
  return {AxStatus::success, attrValue(values.get(), maxCount)};
}

AxStatus AxPlatform::setBooleanAttribute(const Element& element, std::string_view name,
                                         bool value) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return kNoElement;
  const CfRef attribute = cfString(name);
  if (!attribute) return AxStatus::failure;
  return noted(AXUIElementSetAttributeValue(ax, attribute.as<CFStringRef>(),
                                            value ? kCFBooleanTrue : kCFBooleanFalse),
               refused_);
}

AxStatus AxPlatform::performAction(const Element& element, std::string_view action) {
  const AXUIElementRef ax = axRef(element);
  if (ax == nullptr) return kNoElement;
  const CfRef name = cfString(action);
  if (!name) return AxStatus::failure;
  return noted(AXUIElementPerformAction(ax, name.as<CFStringRef>()), refused_);
}

ElementRead AxPlatform::copyElementAtPosition(const Element& systemWide, float x, float y) {
  const AXUIElementRef ax = axRef(systemWide);
  if (ax == nullptr) return {kNoElement, std::nullopt};
  AXUIElementRef raw = nullptr;
  const AXError error = AXUIElementCopyElementAtPosition(ax, x, y, &raw);
  CfRef hit = CfRef::adopt(raw);
  if (error != kAXErrorSuccess) return {noted(error, refused_), std::nullopt};
  if (!hit || CFGetTypeID(hit.get()) != AXUIElementGetTypeID()) {
    return {AxStatus::noValue, std::nullopt};
  }
  return {AxStatus::success, axElementOf(std::move(hit))};
}

std::optional<RunningApplication> AxPlatform::frontmostApplication() {
  cfRunLoopTurn();
  return workspace_.frontmostApplication();
}

std::vector<RunningApplication> AxPlatform::runningApplications() {
  cfRunLoopTurn();
  return workspace_.runningApplications();
}

std::optional<RunningApplication> AxPlatform::runningApplication(ProcessId pid) {
  cfRunLoopTurn();
  return workspace_.runningApplication(pid);
}

bool AxPlatform::activate(const RunningApplication& application, unsigned options) {
  return workspace_.activate(application, options);
}

}  // namespace nevo::macos
