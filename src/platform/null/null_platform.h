// The backend for systems without a supported accessibility interface. It reports that
// this process may not use accessibility, so every command answers with its
// permission-denied reply; every other operation fails as an unreachable interface would.
#pragma once

#include "platform/platform.h"

namespace nevo {

class NullPlatform final : public Platform {
 public:
  bool isProcessTrusted() override { return false; }
  Element createApplicationElement(ProcessId pid) override;
  Element createSystemWideElement() override;
  void setMessagingTimeout(const Element&, float) override {}
  // No request is ever waited for.
  float defaultMessagingTimeout() override { return 0; }
  AttributeRead copyAttributeValue(const Element&, std::string_view) override { return {}; }
  std::vector<AttributeRead> copyMultipleAttributeValues(const Element&,
                                                         AttributeNames names) override {
    return std::vector<AttributeRead>(names.size());
  }
  CountRead getAttributeValueCount(const Element&, std::string_view) override { return {}; }
  AttributeRead copyAttributeValues(const Element&, std::string_view, long, long) override {
    return {};
  }
  AxStatus setBooleanAttribute(const Element&, std::string_view, bool) override {
    return AxStatus::failure;
  }
  AxStatus performAction(const Element&, std::string_view) override { return AxStatus::failure; }
  ElementRead copyElementAtPosition(const Element&, float, float) override { return {}; }
  std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
  std::vector<RunningApplication> runningApplications() override { return {}; }
  std::optional<RunningApplication> runningApplication(ProcessId) override { return std::nullopt; }
  bool activate(const RunningApplication&, unsigned) override { return false; }
  ProcessId ownProcessIdentifier() override;
  std::string readStandardInput(std::size_t maxBytes) override;
  WallTime now() override;
  void runLoopUntil(WallTime date) override;
};

}  // namespace nevo
