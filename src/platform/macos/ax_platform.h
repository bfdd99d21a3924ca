// The macOS backend's plain C++: every accessibility operation of the platform interface
// over the C interface of ApplicationServices and CoreFoundation, and the reads of the
// workspace, each made fresh by a turn of the run loop.
//
// The workspace itself (AppKit's, or the tests' over the simulated desktop) is passed in;
// the rest of the interface (own process, standard input, clock, run loop) is left to a
// subclass: MacPlatform serves it from the system; the tests serve it from the simulated
// desktop, so that the same code runs over a fake of the C interface.
#pragma once

#include "platform/macos/workspace.h"
#include "platform/platform.h"

namespace nevo::macos {

// The messaging time-out of an element on which none was set, when none was set on the
// system-wide element either.
inline constexpr float kDefaultMessagingTimeout = 6.0f;

class AxPlatform : public Platform {
 public:
  explicit AxPlatform(Workspace& workspace) : workspace_(workspace) {}

  // False once any request came back kAXErrorAPIDisabled: the system refused this process
  // the accessibility interface (the permission was withdrawn, or the system no longer
  // recognises the host after it was updated or re-signed, whatever the settings show).
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

  // Each read first turns the run loop without waiting, so that it answers with what the
  // system reports now, not with what AppKit took in at an earlier turn.
  std::optional<RunningApplication> frontmostApplication() final;
  std::vector<RunningApplication> runningApplications() final;
  std::optional<RunningApplication> runningApplication(ProcessId pid) final;
  bool activate(const RunningApplication& application, unsigned options) final;

 private:
  Workspace& workspace_;
  // A request came back kAXErrorAPIDisabled.
  bool refused_ = false;
};

}  // namespace nevo::macos
