// The Linux backend: accessibility through AT-SPI2, spoken over D-Bus to the accessibility
// bus (and, for the application being walked, to its own socket), and windows and the
// workspace through X11 with an EWMH window manager. docs/linux.md gives the mapping onto
// the platform interface and the rules this backend adds.
//
// The platform joins the parts: the connections, the object cache with its read-ahead, the
// attribute reads, the hit test and the workspace.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/attribute_reads.h"
#include "platform/linux/client_windows.h"
#include "platform/linux/connections.h"
#include "platform/linux/hit_test.h"
#include "platform/linux/linux_element.h"
#include "platform/linux/object_cache.h"
#include "platform/linux/workspace.h"
#include "platform/linux/x11_desktop.h"
#include "platform/platform.h"

namespace nevo::lin {

// Requests through an element without a time-out of its own, when none was set on the
// system-wide element either.
inline constexpr float kDefaultMessagingTimeout = 0.25f;
// How long the accessibility bus and its registry may take to answer the trust check.
inline constexpr double kTrustSeconds = 0.5;

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform();
  // Over an accessibility bus already connected and trusted, without a display: the
  // accessibility operations only (tests: a scripted application on a socket pair).
  explicit LinuxPlatform(std::unique_ptr<Link> accessibilityBus);
  ~LinuxPlatform() override;

  bool isProcessTrusted() override;
  Element createApplicationElement(ProcessId pid) override;
  Element createSystemWideElement() override;
  void setMessagingTimeout(const Element& element, float seconds) override;
  float defaultMessagingTimeout() override { return kDefaultMessagingTimeout; }
  AttributeRead copyAttributeValue(const Element& element, std::string_view name) override;
  std::vector<AttributeRead> copyMultipleAttributeValues(const Element& element,
                                                         AttributeNames names) override;
  CountRead getAttributeValueCount(const Element& element, std::string_view name) override;
  AttributeRead copyAttributeValues(const Element& element, std::string_view name, long index,
                                    long maxCount) override;
  AxStatus setBooleanAttribute(const Element& element, std::string_view name, bool value) override;
  AxStatus performAction(const Element& element, std::string_view action) override;
  ElementRead copyElementAtPosition(const Element& systemWide, float x, float y) override;
  std::optional<RunningApplication> frontmostApplication() override;
  std::vector<RunningApplication> runningApplications() override;
  std::optional<RunningApplication> runningApplication(ProcessId pid) override;
  bool activate(const RunningApplication& application, unsigned options) override;
  ProcessId ownProcessIdentifier() override;
  std::string readStandardInput(std::size_t maxBytes) override;
  WallTime now() override;
  void runLoopUntil(WallTime date) override;

  // For the benchmark: counts of what this run sent.
  using Statistics = CallStatistics;
  const Statistics& statistics() const { return connections_.statistics(); }
  // Counts calls by method and the hit tests' own calls too (costs a little per call).
  void collectDetailedStatistics() { connections_.collectDetailedStatistics(); }
  // The element at the point as the application itself answers it, descending with its
  // own hit test one level at a time (for measuring the hit test's agreement).
  ElementRead applicationHitTest(float x, float y);

 private:
  bool connected();
  bool connect();
  double deadlineFor(const LinuxElement& element) const;
  // The cache entry of an element, or null for the system-wide element and applications
  // that are not accessible.
  CachedObject* objectOf(const LinuxElement& element);
  // Before an application that builds its tree only for listeners is asked for its focused
  // element: while the tool's wake is recent and its active window is bare, waits for the
  // window's children (see kWakeSeconds).
  void awaitWokenTree(CachedObject& root, double deadline);
  // Windows and values of an array attribute.
  std::optional<std::vector<ObjectRef>> arrayOf(CachedObject& object, std::string_view name,
                                                double deadline);

  std::optional<bool> trusted_;
  std::optional<float> systemTimeout_;
  std::unique_ptr<X11Desktop> display_;
  Connections connections_;
  ObjectCache cache_{connections_};
  Workspace workspace_{connections_, cache_};
  AttributeReader reader_{cache_, workspace_};
  HitTest hitTest_{cache_, workspace_};
  ClientWindows clientWindows_;
};

}  // namespace nevo::lin
