// The accessibility part of the macOS backend: every accessibility operation of the
// platform interface, in plain C++ over the C interface of ApplicationServices and
// CoreFoundation.
//
// The rest of the interface (workspace, own process, standard input, clock, run loop) is
// left to a subclass: MacPlatform serves it from the system; the tests serve it from the
// simulated desktop, so that the same accessibility code runs over a fake of the C
// interface.
#pragma once

#include "platform/platform.h"

namespace nevo::macos {

// The messaging time-out of an element on which none was set, when none was set on the
// system-wide element either.
inline constexpr float kDefaultMessagingTimeout = 6.0f;

class AxPlatform : public Platform {
 public:
  bool isProcessTrusted() final;
  Element createApplicationElement(ProcessId pid) final;
  Element createSystemWideElement() final;
  void setMessagingTimeout(const Element& element, float seconds) final;
  float defaultMessagingTimeout() override { return kDefaultMessagingTimeout; }
  AttributeRead copyAttributeValue(const Element& element, std::string_view name) final;
  std::vector<AttributeRead> copyMultipleAttributeValues(const Element& element,
                                                         AttributeNames names) final;
  CountRead getAttributeValueCount(const Element& element, std::string_view name) final;
  AttributeRead copyAttributeValues(const Element& element, std::string_view name, long index,
                                    long maxCount) final;
  AxStatus setBooleanAttribute(const Element& element, std::string_view name, bool value) final;
  AxStatus performAction(const Element& element, std::string_view action) final;
  ElementRead copyElementAtPosition(const Element& systemWide, float x, float y) final;
};

}  // namespace nevo::macos
