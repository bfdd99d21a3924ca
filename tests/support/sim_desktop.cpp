#include "sim_desktop.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace nevo::sim {

NumberValue number(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return {value, std::string(buffer, result.ptr)};
}

namespace {

// A reference to a node of one simulated desktop. The messaging time-out belongs to the
// reference object, as it does on the platform.
class SimElement final : public ElementImpl {
 public:
  SimElement(const SimDesktop* owner, int id) : desktop(owner), node(id) {}
  bool sameObject(const ElementImpl& other) const override {
    const auto* o = dynamic_cast<const SimElement*>(&other);
    return o != nullptr && o->desktop == desktop && o->node == node && node >= 0;
  }
  const SimDesktop* desktop;
  int node;
  mutable std::optional<float> timeout;
};

// The node an element refers to; -1 for one that is no element of a simulated desktop.
int nodeOf(const Element& element) {
  const SimElement* e = element.as<SimElement>();
  return e != nullptr ? e->node : -1;
}

constexpr int kSystemWideNode = 0;

}  // namespace

// Node ---------------------------------------------------------------------------------

Element Node::element() const {
  return desktop_->elementOf(id_);
}

Node Node::add(std::string_view role) const {
  const int child = desktop_->newNode(id_);
  Node node(desktop_, child);
  node.role(role);
  return node;
}

const Node& Node::set(std::string_view attribute, AttrValue value) const {
  desktop_->data(id_).attributes[std::string(attribute)] = std::move(value);
  return *this;
}

const Node& Node::frame(const Rect& r) const {
  set("AXPosition", PointValue{r.x, r.y});
  return set("AXSize", SizeValue{r.width, r.height});
}

const Node& Node::remove(std::string_view attribute) const {
  auto& attributes = desktop_->data(id_).attributes;
  if (auto it = attributes.find(attribute); it != attributes.end()) attributes.erase(it);
  return *this;
}

const Node& Node::fail(std::string_view attribute, AxStatus status) const {
  for (Op op : {Op::read, Op::count, Op::readValues, Op::write}) failOp(op, attribute, status);
  return *this;
}

const Node& Node::failOp(Op op, std::string_view name, AxStatus status) const {
  desktop_->data(id_).failures[{op, std::string(name)}] = status;
  return *this;
}

const Node& Node::latency(std::string_view attribute, double seconds) const {
  desktop_->data(id_).latencies[std::string(attribute)] = seconds;
  return *this;
}

const Node& Node::reportCount(std::string_view attribute, long count) const {
  desktop_->data(id_).reportedCounts[std::string(attribute)] = count;
  return *this;
}

const Node& Node::link(const Node& other) const {
  desktop_->data(id_).links.push_back(other.id());
  return *this;
}

// SimApp -------------------------------------------------------------------------------

Node SimApp::addWindow(std::string_view title, const Rect& frame) {
  Node window = node().add("AXWindow");
  window.subrole("AXStandardWindow").title(title).frame(frame).minimized(false);
  desktop_->zOrder_.push_back(window.id());
  return window;
}

void SimApp::closeWindow(const Node& window) {
  auto& children = desktop_->data(node_).children;
  children.erase(std::remove(children.begin(), children.end(), window.id()), children.end());
  desktop_->kill(window.id());
}

std::vector<Node> SimApp::windows() const {
  std::vector<Node> result;
  for (int id : desktop_->data(node_).children) result.emplace_back(desktop_, id);
  return result;
}

SimApp& SimApp::focusWindow(const Node& window) {
  if (window.id() < 0) {
    node().remove("AXFocusedWindow");
  } else {
    node().set("AXFocusedWindow", window.element());
  }
  return *this;
}

SimApp& SimApp::focusElement(const Node& element) {
  if (element.id() < 0) {
    node().remove("AXFocusedUIElement");
  } else {
    node().set("AXFocusedUIElement", element.element());
  }
  return *this;
}

// SimDesktop: building -----------------------------------------------------------------

SimDesktop::SimDesktop() {
  newNode(-1);  // the system-wide element
}

SimDesktop::~SimDesktop() = default;

int SimDesktop::newNode(int parent) {
  const int id = static_cast<int>(nodes_.size());
  nodes_.emplace_back();
  nodes_.back().parent = parent;
  if (parent >= 0) data(parent).children.push_back(id);
  return id;
}

Element SimDesktop::elementOf(int node) {
  return Element(std::make_shared<SimElement>(this, node));
}

void SimDesktop::kill(int node) {
  data(node).alive = false;
  for (int child : data(node).children) kill(child);
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), node), zOrder_.end());
}

SimApp& SimDesktop::addApp(ProcessId pid, std::optional<std::string> name) {
  auto app = std::make_unique<SimApp>();
  app->desktop_ = this;
  app->pid_ = pid;
  app->node_ = newNode(-1);
  app->name_ = std::move(name);
  app->bundleId_ = "com.example." + std::to_string(pid);
  data(app->node_).attributes["AXRole"] = std::string("AXApplication");
  apps_.push_back(std::move(app));
  return *apps_.back();
}

SimApp* SimDesktop::findApp(ProcessId pid) {
  for (auto& app : apps_) {
    if (app->pid_ == pid) return app.get();
  }
  return nullptr;
}

SimApp& SimDesktop::app(ProcessId pid) {
  SimApp* found = findApp(pid);
  if (found == nullptr) {
    throw std::invalid_argument("the simulated desktop has no application " +
                                std::to_string(pid));
  }
  return *found;
}

void SimDesktop::removeApp(ProcessId pid) {
  auto it = std::find_if(apps_.begin(), apps_.end(), [&](auto& a) { return a->pid_ == pid; });
  if (it == apps_.end()) return;
  kill((*it)->node_);
  apps_.erase(it);
  if (frontmost_ == pid) frontmost_.reset();
}

void SimDesktop::bringToFront(const Node& window) {
  zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), window.id()), zOrder_.end());
  zOrder_.insert(zOrder_.begin(), window.id());
}

void SimDesktop::at(double time, std::function<void()> change) {
  timed_.emplace_back(time, std::move(change));
}

void SimDesktop::afterAxCalls(int n, std::function<void()> change) {
  counted_.emplace_back(n, std::move(change));
}

// SimDesktop: the log ------------------------------------------------------------------

void SimDesktop::log(Op op, int node, std::string_view name, double number, double second) {
  calls_.push_back(Call{op, node, std::string(name), {}, number, second, clock});
}

bool Call::reads(std::string_view attribute) const {
  if (op == Op::read) return name == attribute;
  if (op == Op::readBatch) return std::find(names.begin(), names.end(), attribute) != names.end();
  return false;
}

std::vector<std::string> SimDesktop::readsOf(const Node& node) const {
  std::vector<std::string> names;
  for (const Call& c : calls_) {
    if (c.node != node.id()) continue;
    if (c.op == Op::read) names.push_back(c.name);
    if (c.op == Op::readBatch) names.insert(names.end(), c.names.begin(), c.names.end());
  }
  return names;
}

std::size_t SimDesktop::axRequests() const {
  return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [](const Call& c) {
    switch (c.op) {
      case Op::read:
      case Op::readBatch:
      case Op::count:
      case Op::readValues:
      case Op::write:
      case Op::action:
      case Op::hitTest:
        return true;
      default:
        return false;
    }
  }));
}

bool SimDesktop::wasRead(const Node& node, std::string_view attribute) const {
  return std::any_of(calls_.begin(), calls_.end(),
                     [&](const Call& c) { return c.node == node.id() && c.reads(attribute); });
}

std::vector<Call> SimDesktop::callsOf(Op op) const {
  std::vector<Call> result;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(result),
               [&](const Call& c) { return c.op == op; });
  return result;
}

bool SimDesktop::touched(const Node& node) const {
  return std::any_of(calls_.begin(), calls_.end(),
                     [&](const Call& c) { return c.node == node.id(); });
}

// SimDesktop: time and scripted changes ------------------------------------------------

void SimDesktop::fireTimedChanges() {
  for (;;) {
    auto due = timed_.end();
    for (auto it = timed_.begin(); it != timed_.end(); ++it) {
      if (it->first <= clock && (due == timed_.end() || it->first < due->first)) due = it;
    }
    if (due == timed_.end()) return;
    auto change = std::move(due->second);
    timed_.erase(due);
    change();
  }
}

double SimDesktop::latencyOf(int node, std::string_view name) const {
  const auto& latencies = nodes_.at(static_cast<std::size_t>(node)).latencies;
  const auto latency = latencies.find(name);
  return latency != latencies.end() ? latency->second : defaultLatency;
}

AxStatus SimDesktop::serveRequest(const Element& element, int node, double seconds) {
  if (node < 0 || !data(node).alive) return AxStatus::invalidElement;
  const SimElement* e = element.as<SimElement>();
  const float timeout = e->timeout.value_or(systemTimeout_.value_or(defaultTimeout));
  if (seconds > timeout) {
    clock += timeout;
    return AxStatus::cannotComplete;
  }
  clock += seconds;
  return AxStatus::success;
}

AxStatus SimDesktop::enterAxCall(const Element& element, Op op, std::string_view name) {
  fireTimedChanges();
  const int node = nodeOf(element);
  log(op, node, name);
  if (node < 0 || !data(node).alive) return AxStatus::invalidElement;
  const AxStatus served = serveRequest(element, node, latencyOf(node, name));
  if (served != AxStatus::success) return served;
  const auto& failures = data(node).failures;
  if (auto it = failures.find({op, std::string(name)}); it != failures.end()) return it->second;
  return AxStatus::success;
}

void SimDesktop::leaveAxCall() {
  ++axCalls_;
  for (;;) {
    auto due = std::find_if(counted_.begin(), counted_.end(),
                            [&](auto& c) { return c.first <= axCalls_; });
    if (due == counted_.end()) return;
    auto change = std::move(due->second);
    counted_.erase(due);
    change();
  }
}

// SimDesktop: the platform -------------------------------------------------------------

bool SimDesktop::isProcessTrusted() {
  log(Op::trusted);
  return trusted;
}

Element SimDesktop::createApplicationElement(ProcessId pid) {
  log(Op::createApplication, -1, {}, static_cast<double>(pid));
  SimApp* app = findApp(pid);
  return elementOf(app != nullptr ? app->node_ : -1);
}

Element SimDesktop::createSystemWideElement() {
  log(Op::createSystemWide, kSystemWideNode);
  return elementOf(kSystemWideNode);
}

void SimDesktop::setMessagingTimeout(const Element& element, float seconds) {
  const SimElement* e = element.as<SimElement>();
  log(Op::setTimeout, e != nullptr ? e->node : -1, {}, seconds);
  if (e == nullptr) return;
  e->timeout = seconds;
  if (e->node == kSystemWideNode) systemTimeout_ = seconds;
}

AttributeRead SimDesktop::valueOf(int id, std::string_view name) {
  const NodeData& node = data(id);
  AttributeRead read;
  read.status = AxStatus::success;
  if (name == "AXChildren") {
    ArrayValue children;
    for (int child : node.children) children.push_back(elementOf(child));
    for (int link : node.links) children.push_back(elementOf(link));
    read.value = std::move(children);
  } else if (auto it = node.attributes.find(name); it != node.attributes.end()) {
    read.value = it->second;  // an explicit "AXParent" included
  } else if (name == "AXParent" && node.parent >= 0) {
    read.value = elementOf(node.parent);
  } else {
    read.status = AxStatus::attributeUnsupported;
  }
  return read;
}

AttributeRead SimDesktop::copyAttributeValue(const Element& element, std::string_view name) {
  AttributeRead read;
  read.status = enterAxCall(element, Op::read, name);
  if (read.status == AxStatus::success) read = valueOf(nodeOf(element), name);
  leaveAxCall();
  return read;
}

std::vector<AttributeRead> SimDesktop::copyMultipleAttributeValues(const Element& element,
                                                                   AttributeNames names) {
  fireTimedChanges();
  const int node = nodeOf(element);
  log(Op::readBatch, node);
  for (std::string_view name : names) calls_.back().names.emplace_back(name);
  std::vector<AttributeRead> reads(names.size());
  double seconds = names.empty() ? defaultLatency : 0;
  if (node >= 0 && data(node).alive) {
    for (std::string_view name : names) seconds = std::max(seconds, latencyOf(node, name));
  }
  const AxStatus served = serveRequest(element, node, seconds);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (served != AxStatus::success) {
      reads[i].status = served;
      continue;
    }
    const auto& failures = data(node).failures;
    if (auto it = failures.find({Op::read, std::string(names[i])}); it != failures.end()) {
      reads[i].status = it->second;
    } else {
      reads[i] = valueOf(node, names[i]);
    }
  }
  leaveAxCall();
  return reads;
}

std::optional<std::vector<int>> SimDesktop::arrayOf(int id, std::string_view name) {
  // An application's windows are its children.
  if (name == "AXChildren" || name == "AXWindows") {
    std::vector<int> values = data(id).children;
    values.insert(values.end(), data(id).links.begin(), data(id).links.end());
    return values;
  }
  return std::nullopt;
}

CountRead SimDesktop::getAttributeValueCount(const Element& element, std::string_view name) {
  CountRead read;
  read.status = enterAxCall(element, Op::count, name);
  if (read.status == AxStatus::success) {
    const int id = nodeOf(element);
    const auto& reported = data(id).reportedCounts;
    if (auto it = reported.find(name); it != reported.end()) {
      read.count = it->second;
    } else if (auto values = arrayOf(id, name)) {
      read.count = static_cast<long>(values->size());
    } else {
      read.status = AxStatus::attributeUnsupported;
    }
  }
  leaveAxCall();
  return read;
}

AttributeRead SimDesktop::copyAttributeValues(const Element& element, std::string_view name,
                                              long index, long maxCount) {
  AttributeRead read;
  read.status = enterAxCall(element, Op::readValues, name);
  calls_.back().number = static_cast<double>(maxCount);
  if (read.status == AxStatus::success) {
    if (auto values = arrayOf(nodeOf(element), name)) {
      ArrayValue array;
      const long end = ignoresMaxCount ? static_cast<long>(values->size()) : index + maxCount;
      for (long i = index; i < static_cast<long>(values->size()) && i < end; ++i) {
        array.push_back(elementOf((*values)[static_cast<std::size_t>(i)]));
      }
      read.value = std::move(array);
    } else {
      read.status = AxStatus::attributeUnsupported;
    }
  }
  leaveAxCall();
  return read;
}

AxStatus SimDesktop::setBooleanAttribute(const Element& element, std::string_view name,
                                         bool value) {
  AxStatus status = enterAxCall(element, Op::write, name);
  calls_.back().number = value ? 1 : 0;
  if (status == AxStatus::success) {
    data(nodeOf(element)).attributes[std::string(name)] = value;
  }
  leaveAxCall();
  return status;
}

AxStatus SimDesktop::performAction(const Element& element, std::string_view action) {
  AxStatus status = enterAxCall(element, Op::action, action);
  const int id = nodeOf(element);
  if (status == AxStatus::success && action == "AXRaise") {
    bringToFront(Node(this, id));
    const int appNode = data(id).parent;
    auto owner =
        std::find_if(apps_.begin(), apps_.end(), [&](auto& a) { return a->node_ == appNode; });
    if (owner != apps_.end() && (*owner)->raiseFocuses_) {
      SimApp* app = owner->get();
      const Node window(this, id);
      if (app->raiseFocusDelay_ > 0) {
        // Found again when the change lands: the application may have quit by then.
        at(clock + app->raiseFocusDelay_, [this, pid = app->pid_, window] {
          if (SimApp* still = findApp(pid)) still->focusWindow(window);
        });
      } else {
        app->focusWindow(window);
      }
    }
  }
  leaveAxCall();
  return status;
}

std::optional<int> SimDesktop::hitTest(double x, double y) {
  const auto frameOf = [&](int id) -> std::optional<Rect> {
    const auto& attributes = data(id).attributes;
    auto position = attributes.find("AXPosition");
    auto size = attributes.find("AXSize");
    if (position == attributes.end() || size == attributes.end()) return std::nullopt;
    const auto* p = position->second.get<PointValue>();
    const auto* s = size->second.get<SizeValue>();
    if (p == nullptr || s == nullptr) return std::nullopt;
    return Rect{p->x, p->y, s->width, s->height};
  };
  const auto contains = [&](int id) {
    const auto f = frameOf(id);
    if (!f || !data(id).alive) return false;
    const double left = std::fmin(f->x, f->x + f->width);
    const double top = std::fmin(f->y, f->y + f->height);
    return x >= left && x < left + rectWidth(*f) && y >= top && y < top + rectHeight(*f);
  };
  for (int window : zOrder_) {
    const auto& attributes = data(window).attributes;
    auto minimized = attributes.find("AXMinimized");
    if (minimized != attributes.end() && minimized->second.get<bool>() != nullptr &&
        *minimized->second.get<bool>()) {
      continue;
    }
    if (!contains(window)) continue;
    // Later children are drawn over earlier ones: the deepest, topmost one wins.
    int found = window;
    for (bool descended = true; descended;) {
      descended = false;
      const auto& children = data(found).children;
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (contains(*it)) {
          found = *it;
          descended = true;
          break;
        }
      }
    }
    return found;
  }
  return std::nullopt;
}

ElementRead SimDesktop::copyElementAtPosition(const Element& systemWide, float x, float y) {
  ElementRead read;
  read.status = enterAxCall(systemWide, Op::hitTest, {});
  calls_.back().number = x;
  calls_.back().second = y;
  if (read.status == AxStatus::success) {
    if (auto found = hitTest(x, y)) {
      read.element = elementOf(*found);
    } else {
      read.status = AxStatus::noValue;
    }
  }
  leaveAxCall();
  return read;
}

RunningApplication SimDesktop::snapshot(const SimApp& app) const {
  RunningApplication r;
  r.processIdentifier = app.pid_;
  r.localizedName = app.name_;
  r.bundleIdentifier = app.bundleId_;
  r.activationPolicy = app.policy_;
  r.terminated = app.terminated_;
  return r;
}

std::optional<RunningApplication> SimDesktop::frontmostApplication() {
  fireTimedChanges();
  log(Op::frontmost);
  if (!frontmost_) return std::nullopt;
  SimApp* app = findApp(*frontmost_);
  if (app == nullptr) return std::nullopt;
  return snapshot(*app);
}

std::vector<RunningApplication> SimDesktop::runningApplications() {
  fireTimedChanges();
  log(Op::running);
  std::vector<RunningApplication> result;
  for (const auto& app : apps_) result.push_back(snapshot(*app));
  return result;
}

std::optional<RunningApplication> SimDesktop::runningApplication(ProcessId pid) {
  fireTimedChanges();
  log(Op::lookup, -1, {}, static_cast<double>(pid));
  SimApp* app = findApp(pid);
  if (app == nullptr) return std::nullopt;
  return snapshot(*app);
}

bool SimDesktop::activate(const RunningApplication& application, unsigned options) {
  fireTimedChanges();
  log(Op::activate, -1, {}, static_cast<double>(application.processIdentifier),
      static_cast<double>(options));
  SimApp* app = findApp(application.processIdentifier);
  if (app == nullptr || app->terminated_ || app->refusesActivation_) return false;
  frontmost_ = app->pid_;
  return true;
}

ProcessId SimDesktop::ownProcessIdentifier() {
  log(Op::ownPid);
  return ownPid;
}

std::string SimDesktop::readStandardInput(std::size_t maxBytes) {
  log(Op::readInput, -1, {}, static_cast<double>(maxBytes));
  const std::size_t n = std::min(maxBytes, standardInput.size() - inputOffset_);
  std::string chunk = standardInput.substr(inputOffset_, n);
  inputOffset_ += n;
  return chunk;
}

WallTime SimDesktop::now() {
  fireTimedChanges();
  log(Op::now, -1, {}, clock);
  return clock;
}

void SimDesktop::runLoopUntil(WallTime date) {
  log(Op::runLoop, -1, {}, date);
  for (;;) {
    auto due = timed_.end();
    for (auto it = timed_.begin(); it != timed_.end(); ++it) {
      if (it->first <= date && (due == timed_.end() || it->first < due->first)) due = it;
    }
    if (due == timed_.end()) break;
    clock = std::max(clock, due->first);
    auto change = std::move(due->second);
    timed_.erase(due);
    change();
  }
  clock = std::max(clock, date);
}

}  // namespace nevo::sim
