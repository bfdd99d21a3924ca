// The Linux backend: accessibility through AT-SPI2, spoken over plain libdbus-1 to the
// accessibility bus (and, for the application being walked, to its own socket), and
// windows and the workspace through X11 with an EWMH window manager. docs/linux.md gives
// the mapping onto the platform interface and the rules this backend adds.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/dbus_link.h"
#include "platform/linux/x11_desktop.h"
#include "platform/platform.h"

namespace nevo::lin {

// Requests through an element without a time-out of its own, when none was set on the
// system-wide element either.
inline constexpr float kDefaultMessagingTimeout = 0.25f;
// How long the accessibility bus and its registry may take to answer the trust check.
inline constexpr double kTrustSeconds = 0.5;
// How long the workspace's own look-ups (which application owns which bus name, the
// applications' names) may take.
inline constexpr double kWorkspaceSeconds = 0.1;
// Most elements the walk's read-ahead asks about in one run.
inline constexpr int kReadAheadLimit = 600;
// Most children read from one element.
inline constexpr std::size_t kChildListingLimit = 1024;
// Most characters of an element's text contents asked for.
inline constexpr std::int32_t kTextValueLimit = 4096;
// Calls to one application after which its own socket is opened: enough that the
// application is being read at length (the observation), few enough that the walk goes
// over the socket from its start.
inline constexpr int kPeerCallThreshold = 4;
// Deepest descent of a hit test below the window.
inline constexpr int kHitTestDepthLimit = 64;

struct Node;

// An element of this backend: an application (by process, resolved to its bus name when
// it has registered with the accessibility registry), an accessible object, or the
// system-wide element.
class LinuxElement final : public ElementImpl {
 public:
  enum class Kind { application, object, systemWide };
  LinuxElement(Kind elementKind, ObjectRef object, ProcessId process)
      : kind(elementKind), ref(std::move(object)), pid(process) {}
  // The same accessible object (bus name and path): an application's element equals
  // itself across creations and equals the application object handed out as a parent.
  bool sameObject(const ElementImpl& other) const override;

  const Kind kind;
  const ObjectRef ref;  // empty bus name: an application that is not accessible
  const ProcessId pid;  // applications only
  mutable std::optional<float> timeout;
};

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform();
  ~LinuxPlatform() override;

  bool isProcessTrusted() override;
  Element createApplicationElement(ProcessId pid) override;
  Element createSystemWideElement() override;
  void setMessagingTimeout(const Element& element, float seconds) override;
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

  // Counts of what this run sent, for the benchmark.
  struct Statistics {
    long calls = 0;      // accessibility calls sent
    long peerCalls = 0;  // of them, over an application's own socket
    long hitTests = 0;
    long hitTestCalls = 0;                 // calls a hit test had to make itself (not read-ahead)
    std::map<std::string, long> byMethod;  // calls by interface member
  };
  const Statistics& statistics() const { return statistics_; }
  // Counts calls by method and the hit tests' own calls too (costs a little per call).
  void collectDetailedStatistics() { detailedStatistics_ = true; }
  // Sends one accessibility call to the application on `bus` (over its own socket once
  // that is open); `handler` runs with the reply. False when it could not be sent.
  bool send(const std::string& bus, Message message, ReplyHandler handler);

  // The element at the point as the application itself answers it, descending with its
  // own hit test one level at a time (for measuring the hit test's agreement).
  ElementRead applicationHitTest(float x, float y);

 private:
  struct Application;
  bool connected();
  bool connect();
  Link* linkFor(const std::string& bus);
  std::vector<Link*> links();
  bool await(const std::function<bool()>& done, double deadline);
  double deadlineFor(const LinuxElement& element);

  Node& node(const ObjectRef& ref);
  Node* nodeOf(const LinuxElement& element);
  Element elementFor(const ObjectRef& ref);

  // Slot requests (see linux_platform.cpp).
  void requestRole(Node& n);
  void requestStates(Node& n);
  void requestExtents(Node& n);
  void requestProperties(Node& n);
  void requestIdentifier(Node& n);
  void requestValue(Node& n);
  void requestChildren(Node& n);
  void requestParent(Node& n);
  void readAhead(Node& n);
  void openPeer(const std::string& bus);

  std::vector<AttributeRead> readAttributes(const LinuxElement& element, AttributeNames names);
  std::optional<std::vector<ObjectRef>> windowsOf(Node& root, double deadline);
  std::optional<std::vector<ObjectRef>> listing(Node& n, double deadline);

  // Workspace.
  bool refreshApplications(double deadline);
  std::optional<std::string> busForPid(ProcessId pid);
  std::optional<ProcessId> pidForBus(const std::string& bus);
  RunningApplication describe(ProcessId pid, const std::vector<ClientWindow>& clients,
                              bool managed);
  void fetchNames(const std::vector<ProcessId>& pids);
  const std::vector<ClientWindow>& clientWindows();
  std::optional<ClientWindow> clientWindowOf(Node& window, double deadline);
  std::optional<ObjectRef> accessibleWindowOf(const ClientWindow& client, double deadline);

  std::unique_ptr<X11Desktop> x11_;
  std::unique_ptr<Link> bus_;
  std::unordered_map<std::string, std::unique_ptr<Link>> peers_;
  std::unordered_map<std::string, bool> peerRequested_;
  std::unordered_map<std::string, int> callsByBus_;
  std::optional<bool> trusted_;
  std::optional<float> systemTimeout_;
  std::unordered_map<ObjectRef, std::unique_ptr<Node>, ObjectRefHash> nodes_;
  std::unordered_map<std::string, ProcessId> pidsByBus_;
  bool applicationsListed_ = false;
  std::unordered_map<ProcessId, std::string> names_;
  std::optional<std::vector<ClientWindow>> clients_;
  std::unordered_map<xcb_window_t, std::optional<ObjectRef>> framesByClient_;
  int readAheadCount_ = 0;
  std::optional<std::vector<ObjectRef>> registryListing_;
  bool detailedStatistics_ = false;
  bool inHitTest_ = false;
  int inHandler_ = 0;
  Statistics statistics_;
};

}  // namespace nevo::lin
