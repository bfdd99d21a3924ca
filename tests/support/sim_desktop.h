// The simulated desktop: a Platform for tests, with applications, element trees,
// per-read failures and latencies on a virtual clock, scripted changes, and a log of
// every platform call.
//
//   SimDesktop desktop;
//   SimApp& notes = desktop.addApp(812, "Notes");
//   Node window = notes.addWindow("Untitled", {0, 0, 800, 600});
//   Node ok = window.add("AXButton").title("OK").frame({10, 10, 80, 30});
//   notes.focusWindow(window);
//   desktop.setFrontmost(812);
//
// Reads take no virtual time unless a latency is set. A read whose latency is longer
// than the element's messaging time-out (its own, else the system-wide one, else the
// platform default) takes the time-out and fails. A batch read is one request: it takes
// the longest latency of its attributes, and a time-out fails all of them; otherwise each
// attribute fails or succeeds on its own, as a single read of it would.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/attributes.h"
#include "platform/platform.h"

namespace nevo::sim {

class SimDesktop;

// A number as the platform hands it out: its value and its own text ("3", "0.5").
NumberValue number(double value);

// One kind of platform call, as the log records it.
enum class Op {
  trusted,
  createApplication,
  createSystemWide,
  setTimeout,
  read,        // copy one attribute value
  readBatch,   // copy several attribute values of one element in one request
  count,       // count the values of an array attribute
  readValues,  // copy the values of an array attribute
  write,       // set a boolean attribute
  action,
  hitTest,
  frontmost,
  running,
  lookup,  // running application by process identifier
  activate,
  ownPid,
  readInput,
  now,
  runLoop,
};

struct Call {
  Op op;
  int node = -1;      // the element's node, when the call is about an element
  std::string name;   // attribute or action
  std::vector<std::string> names;  // the attributes of a batch, in order
  double number = 0;  // count asked for, time-out, byte count, pid, date, x
  double second = 0;  // y of a hit test
  double at = 0;      // the virtual time when the call was made

  // Whether the call asked for `attribute`'s value, in a single read or in a batch.
  bool reads(std::string_view attribute) const;
};

// A handle to one node of the desktop's element trees, with a fluent builder.
class Node {
 public:
  Node() = default;
  Node(SimDesktop* desktop, int id) : desktop_(desktop), id_(id) {}

  int id() const { return id_; }
  // An element reference to this node, as the platform would hand it out.
  Element element() const;

  // A child at the end of this node's children, with the given AXRole.
  Node add(std::string_view role) const;
  // Setters, each returning this node.
  const Node& set(std::string_view attribute, AttrValue value) const;
  const Node& role(std::string_view role) const { return set("AXRole", std::string(role)); }
  const Node& subrole(std::string_view s) const { return set("AXSubrole", std::string(s)); }
  const Node& title(std::string_view t) const { return set("AXTitle", std::string(t)); }
  const Node& description(std::string_view d) const { return set("AXDescription", std::string(d)); }
  const Node& value(AttrValue v) const { return set("AXValue", std::move(v)); }
  const Node& identifier(std::string_view i) const { return set("AXIdentifier", std::string(i)); }
  const Node& enabled(bool e) const { return set("AXEnabled", e); }
  const Node& minimized(bool m) const { return set("AXMinimized", m); }
  // "AXPosition" and "AXSize" of the rectangle.
  const Node& frame(const Rect& r) const;
  // Removes an attribute: reading it then fails as unsupported.
  const Node& remove(std::string_view attribute) const;
  // Every call of `op` on this attribute fails with `status` (all reads of it by default).
  const Node& fail(std::string_view attribute, AxStatus status = AxStatus::cannotComplete) const;
  const Node& failOp(Op op, std::string_view name,
                     AxStatus status = AxStatus::cannotComplete) const;
  // Each read of this attribute takes `seconds` of virtual time.
  const Node& latency(std::string_view attribute, double seconds) const;
  // The count of an array attribute that the application reports, whatever it holds.
  const Node& reportCount(std::string_view attribute, long count) const;
  // One more value at the end of this node's AXChildren (and AXWindows): a reference to
  // `other`, which may be anywhere, an ancestor of this node or the node itself included.
  // `other` keeps its own parent and stays where it is drawn for hit tests. Setting an
  // explicit "AXParent" with `set` likewise overrides the parent that the tree gives, so a
  // hostile application's parents can loop or point at anything.
  const Node& link(const Node& other) const;

  friend bool operator==(const Node& a, const Node& b) { return a.id_ == b.id_; }

 private:
  SimDesktop* desktop_ = nullptr;
  int id_ = -1;
};

// A running application of the simulated desktop.
class SimApp {
 public:
  ProcessId pid() const { return pid_; }
  Node node() const { return Node(desktop_, node_); }

  SimApp& name(std::optional<std::string> n) {
    name_ = std::move(n);
    return *this;
  }
  SimApp& bundleId(std::optional<std::string> b) {
    bundleId_ = std::move(b);
    return *this;
  }
  SimApp& policy(int p) {
    policy_ = p;
    return *this;
  }
  SimApp& terminated(bool t) {
    terminated_ = t;
    return *this;
  }
  SimApp& refusesActivation(bool r = true) {
    refusesActivation_ = r;
    return *this;
  }
  // What AXRaise does: by default it makes the window the focused window at once; a
  // delay lands that change later, and `false` makes it change nothing.
  SimApp& raiseFocuses(bool f) {
    raiseFocuses_ = f;
    return *this;
  }
  SimApp& raiseFocusDelay(double seconds) {
    raiseFocusDelay_ = seconds;
    return *this;
  }

  // A new window at the end of AXWindows, with role AXWindow, title and frame.
  Node addWindow(std::string_view title, const Rect& frame);
  // Removes a window from AXWindows (it closed); its references become invalid.
  void closeWindow(const Node& window);
  std::vector<Node> windows() const;

  // AXFocusedWindow and AXFocusedUIElement; a default Node clears them.
  SimApp& focusWindow(const Node& window);
  SimApp& focusElement(const Node& element);

 private:
  friend class SimDesktop;
  SimDesktop* desktop_ = nullptr;
  ProcessId pid_ = 0;
  int node_ = -1;
  std::optional<std::string> name_;
  std::optional<std::string> bundleId_;
  int policy_ = kActivationPolicyRegular;
  bool terminated_ = false;
  bool refusesActivation_ = false;
  bool raiseFocuses_ = true;
  double raiseFocusDelay_ = 0;
};

class SimDesktop final : public Platform {
 public:
  SimDesktop();
  ~SimDesktop() override;

  // The desktop's state, for tests to set directly.
  bool trusted = true;
  ProcessId ownPid = 99999;
  std::string standardInput;
  double clock = 1000.0;  // virtual wall-clock seconds
  double defaultLatency = 0;
  float defaultTimeout = 6.0f;  // the platform's own messaging time-out
  // A misbehaving interface that hands out every value of an array attribute, whatever
  // maximum count it was asked for.
  bool ignoresMaxCount = false;

  // A regular, running application with that name and bundle id "com.example.<pid>".
  SimApp& addApp(ProcessId pid, std::optional<std::string> name);
  // The application with that pid; a test that names one that is not there fails.
  SimApp& app(ProcessId pid);
  // The application quits: it leaves the workspace and its elements become invalid.
  void removeApp(ProcessId pid);
  void setFrontmost(std::optional<ProcessId> pid) { frontmost_ = pid; }
  std::optional<ProcessId> frontmostPid() const { return frontmost_; }
  // Puts a window (of any application) on top of the others for hit tests.
  void bringToFront(const Node& window);

  // Scripted changes: at a virtual time, or right after the n-th accessibility call
  // (counted from 1 over reads, counts, hit tests, writes and actions).
  void at(double time, std::function<void()> change);
  void afterAxCalls(int n, std::function<void()> change);
  int axCalls() const { return axCalls_; }

  // How many nodes the desktop holds: node ids run from 0 (the system-wide element) to one
  // less than this.
  int nodeCount() const { return static_cast<int>(nodes_.size()); }

  // The log.
  const std::vector<Call>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }
  // Names read from one node, singly or in batches, in order.
  std::vector<std::string> readsOf(const Node& node) const;
  // Requests about accessibility elements (reads, batches, counts, value copies, writes,
  // actions, hit tests): the round trips another application would serve.
  std::size_t axRequests() const;
  bool wasRead(const Node& node, std::string_view attribute) const;
  std::vector<Call> callsOf(Op op) const;
  // Whether any call touched the node at all.
  bool touched(const Node& node) const;

  // Platform.
  bool isProcessTrusted() override;
  Element createApplicationElement(ProcessId pid) override;
  Element createSystemWideElement() override;
  void setMessagingTimeout(const Element& element, float seconds) override;
  float defaultMessagingTimeout() override { return defaultTimeout; }
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

 private:
  friend class Node;
  friend class SimApp;

  struct NodeData {
    bool alive = true;
    int parent = -1;
    std::vector<int> children;
    std::vector<int> links;  // further AXChildren values, after the children
    std::map<std::string, AttrValue, std::less<>> attributes;
    std::map<std::pair<Op, std::string>, AxStatus> failures;
    std::map<std::string, double, std::less<>> latencies;
    std::map<std::string, long, std::less<>> reportedCounts;
  };

  int newNode(int parent);
  NodeData& data(int id) { return nodes_.at(static_cast<std::size_t>(id)); }
  Element elementOf(int node);
  void kill(int node);
  void log(Op op, int node = -1, std::string_view name = {}, double number = 0, double second = 0);
  void fireTimedChanges();
  // Runs the shared part of every accessibility call on a node: time, latency, failures.
  AxStatus enterAxCall(const Element& element, Op op, std::string_view name);
  // Time and liveness of one request about `node` that takes `seconds`.
  AxStatus serveRequest(const Element& element, int node, double seconds);
  double latencyOf(int node, std::string_view name) const;
  // The value of one attribute of a live node, or the status that says why there is none.
  AttributeRead valueOf(int node, std::string_view name);
  void leaveAxCall();
  std::optional<std::vector<int>> arrayOf(int node, std::string_view name);
  RunningApplication snapshot(const SimApp& app) const;
  SimApp* findApp(ProcessId pid);
  std::optional<int> hitTest(double x, double y);

  std::vector<NodeData> nodes_;
  std::vector<std::unique_ptr<SimApp>> apps_;
  std::optional<ProcessId> frontmost_;
  std::vector<int> zOrder_;  // windows, front first
  std::optional<float> systemTimeout_;
  std::vector<Call> calls_;
  std::vector<std::pair<double, std::function<void()>>> timed_;
  std::vector<std::pair<int, std::function<void()>>> counted_;
  int axCalls_ = 0;
  std::size_t inputOffset_ = 0;
};

}  // namespace nevo::sim
