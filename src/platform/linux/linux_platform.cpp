#include "platform/linux/linux_platform.h"

#include <poll.h>

#include <algorithm>
#include <cmath>

#include "platform/backend.h"
#include "platform/posix/posix_process.h"

namespace nevo {

std::unique_ptr<Platform> makePlatform() {
  return std::make_unique<lin::LinuxPlatform>();
}

namespace lin {

LinuxPlatform::LinuxPlatform() = default;

LinuxPlatform::LinuxPlatform(std::unique_ptr<Link> accessibilityBus) : trusted_(true) {
  connections_.adopt(std::move(accessibilityBus));
}
LinuxPlatform::~LinuxPlatform() = default;

// ---------------------------------------------------------------------------------------
// Trust and connections.

bool LinuxPlatform::connected() {
  return trusted_.value_or(false) || (!trusted_ && connect());
}

bool LinuxPlatform::connect() {
  // True when, within the trust time-out, the display opens with an EWMH window manager,
  // the accessibility bus is found and accepts the connection, and its registry answers.
  // Taken once per run.
  trusted_ = false;
  const double deadline = monotonicNow() + kTrustSeconds;
  display_ = X11Desktop::connect(deadline);
  if (!display_) return false;
  std::optional<std::vector<ObjectRef>> applications = connections_.open(*display_, deadline);
  if (!applications) return false;
  workspace_.attach(*display_, std::move(applications));
  clientWindows_.attach(*display_);
  trusted_ = true;
  return true;
}

bool LinuxPlatform::isProcessTrusted() {
  if (trusted_) return *trusted_;
  return connect();
}

double LinuxPlatform::deadlineFor(const LinuxElement& element) const {
  const float seconds = element.timeout.value_or(systemTimeout_.value_or(kDefaultMessagingTimeout));
  return monotonicNow() + (std::isfinite(seconds) && seconds > 0 ? seconds : 0.0);
}

CachedObject* LinuxPlatform::objectOf(const LinuxElement& element) {
  if (element.kind == LinuxElement::Kind::systemWide || element.ref.bus.empty()) return nullptr;
  return &cache_.object(element.ref);
}

// ---------------------------------------------------------------------------------------
// Accessibility.

Element LinuxPlatform::createApplicationElement(ProcessId pid) {
  std::optional<std::string> bus = connected() ? workspace_.busForPid(pid) : std::nullopt;
  ObjectRef ref;
  if (bus) {
    ref = ObjectRef{*bus, std::string(kRootPath)};
    // What its toolkit serves decides how its focus is found: asked now, in time for that.
    cache_.toolkits().request(*bus);
  }
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::application, ref, pid));
}

Element LinuxPlatform::createSystemWideElement() {
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::systemWide, ObjectRef{}, 0));
}

void LinuxPlatform::setMessagingTimeout(const Element& element, float seconds) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr) return;
  if (e->kind == LinuxElement::Kind::systemWide) {
    systemTimeout_ = seconds;
  } else {
    e->timeout = seconds;
  }
}

AttributeRead LinuxPlatform::copyAttributeValue(const Element& element, std::string_view name) {
  const std::string_view names[] = {name};
  std::vector<AttributeRead> reads = copyMultipleAttributeValues(element, names);
  return std::move(reads[0]);
}

std::vector<AttributeRead> LinuxPlatform::copyMultipleAttributeValues(const Element& element,
                                                                      AttributeNames names) {
  const auto* e = element.as<LinuxElement>();
  if (e != nullptr && ClientWindows::serves(*e) && connected()) {
    return clientWindows_.read(*e, names);
  }
  CachedObject* object = e != nullptr && connected() ? objectOf(*e) : nullptr;
  if (object == nullptr) {
    return std::vector<AttributeRead>(names.size(), AttributeRead{AxStatus::invalidElement, {}});
  }
  const double deadline = deadlineFor(*e);
  if (e->kind == LinuxElement::Kind::application &&
      std::find(names.begin(), names.end(), "AXFocusedUIElement") != names.end()) {
    awaitWokenTree(*object, deadline);
  }
  return reader_.read(*object, names, deadline);
}

void LinuxPlatform::awaitWokenTree(CachedObject& root, double deadline) {
  const double until = std::min(deadline, connections_.wokenAt() + kWakeSeconds);
  if (monotonicNow() >= until) return;
  if (!cache_.toolkits().awaitFacts(root.ref.bus, until).buildsTreeForListeners()) return;
  const std::optional<std::optional<ObjectRef>> active = cache_.activeWindow(root, until);
  if (!active || !*active) return;
  CachedObject& window = cache_.object(**active);
  // A bare window lists children that are no objects yet. Chromium builds them once a
  // client that listens reads the window's attributes (as measured: the listener alone, a
  // state, the extents or a search of the tree do not wake it); then the children are
  // asked again in slices until one is an object, or the wait is over.
  bool woken = false;
  for (;;) {
    const Listing* listed = cache_.listing(window, until);
    if (listed == nullptr || listed->children.empty()) return;
    if (std::any_of(listed->children.begin(), listed->children.end(),
                    [](const ObjectRef& child) { return !child.null(); })) {
      break;
    }
    if (!woken) {
      woken = true;
      connections_.send(window.ref.bus, getAttributesCall(window.ref), [](const ReceivedMessage&) {});
    }
    const double slice = monotonicNow() + kWakeSliceSeconds;
    if (slice >= until) return;
    connections_.serveUntil(-1, [] {}, slice);  // a pause, serving what comes
    cache_.forgetChildren(window);
  }
  // Woken here: the page it builds takes the focus a moment later. Waited for too, until
  // the same element has it twice in a row (within the same time), so that the
  // observation does not see the focus move while it walks.
  if (!woken) return;
  std::optional<ObjectRef> last;
  for (;;) {
    const std::optional<std::optional<ObjectRef>> focused = cache_.focusedElement(active, until);
    if (!focused) return;
    // Settled: the same element twice in a row.
    if (*focused && last && **focused == *last) return;
    last = *focused;
    const double slice = monotonicNow() + kWakeSliceSeconds;
    if (slice >= until) return;
    connections_.serveUntil(-1, [] {}, slice);  // a pause, serving what comes
  }
}

std::optional<std::vector<ObjectRef>> LinuxPlatform::arrayOf(CachedObject& object,
                                                             std::string_view name,
                                                             double deadline) {
  switch (attributeNamed(name)) {
    case Attribute::windows:
      if (auto windows = cache_.applicationWindows(object, deadline)) {
        return workspace_.windowsOnDesktop(object.ref.bus, std::move(*windows), deadline);
      }
      return std::nullopt;
    case Attribute::children:
      return cache_.shownChildren(object, deadline);
    default:
      return std::nullopt;
  }
}

CountRead LinuxPlatform::getAttributeValueCount(const Element& element, std::string_view name) {
  const auto* e = element.as<LinuxElement>();
  if (e != nullptr && ClientWindows::serves(*e) && connected()) {
    return clientWindows_.count(*e, name);
  }
  CachedObject* object = e != nullptr && connected() ? objectOf(*e) : nullptr;
  if (object == nullptr) return {AxStatus::invalidElement, 0};
  const double deadline = deadlineFor(*e);
  const Attribute attribute = attributeNamed(name);
  if (attribute == Attribute::windows) {
    const std::optional<std::vector<ObjectRef>> windows = arrayOf(*object, name, deadline);
    if (!windows) return {AxStatus::cannotComplete, 0};
    return {AxStatus::success, static_cast<long>(windows->size())};
  }
  if (attribute != Attribute::children) return {AxStatus::attributeUnsupported, 0};
  // Counting children is how the walk descends: the element's children, once listed, are
  // read ahead.
  cache_.reached(*object);
  const std::optional<std::vector<ObjectRef>> shown = cache_.shownChildren(*object, deadline);
  if (!shown) return {AxStatus::cannotComplete, 0};
  return {AxStatus::success, static_cast<long>(shown->size())};
}

AttributeRead LinuxPlatform::copyAttributeValues(const Element& element, std::string_view name,
                                                 long index, long maxCount) {
  const auto* e = element.as<LinuxElement>();
  if (e != nullptr && ClientWindows::serves(*e) && connected()) {
    return clientWindows_.values(*e, name, index, maxCount);
  }
  CachedObject* object = e != nullptr && connected() ? objectOf(*e) : nullptr;
  if (object == nullptr) return {AxStatus::invalidElement, {}};
  if (index < 0 || maxCount < 0) return {AxStatus::failure, {}};
  const Attribute attribute = attributeNamed(name);
  if (attribute != Attribute::windows && attribute != Attribute::children) {
    return {AxStatus::attributeUnsupported, {}};
  }
  const std::optional<std::vector<ObjectRef>> refs = arrayOf(*object, name, deadlineFor(*e));
  if (!refs) return {AxStatus::cannotComplete, {}};
  const std::size_t first = std::min(static_cast<std::size_t>(index), refs->size());
  const std::size_t count = std::min(refs->size() - first, static_cast<std::size_t>(maxCount));
  return {AxStatus::success, elementArray(std::span(*refs).subspan(first, count))};
}

AxStatus LinuxPlatform::setBooleanAttribute(const Element& element, std::string_view name,
                                            bool value) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return AxStatus::invalidElement;
  if (attributeNamed(name) != Attribute::minimized) return AxStatus::attributeUnsupported;
  if (ClientWindows::serves(*e)) return clientWindows_.setMinimized(*e, value);
  CachedObject* object = objectOf(*e);
  const std::optional<ClientWindow> window =
      object != nullptr ? workspace_.clientWindowOf(*object, deadlineFor(*e)) : std::nullopt;
  if (!window) return AxStatus::cannotComplete;
  // A pager restores an iconified window by activating it.
  const bool sent = display_ && (value ? display_->requestIconify(window->id)
                                       : display_->requestActivation(window->id));
  return sent ? AxStatus::success : AxStatus::failure;
}

AxStatus LinuxPlatform::performAction(const Element& element, std::string_view action) {
  const auto* e = element.as<LinuxElement>();
  if (e == nullptr || !connected()) return AxStatus::invalidElement;
  if (action != "AXRaise") return AxStatus::actionUnsupported;
  if (ClientWindows::serves(*e)) return clientWindows_.raise(*e);
  CachedObject* object = objectOf(*e);
  const std::optional<ClientWindow> window =
      object != nullptr ? workspace_.clientWindowOf(*object, deadlineFor(*e)) : std::nullopt;
  if (!window) return AxStatus::cannotComplete;
  const bool sent =
      display_ && display_->requestRaise(window->id) && display_->requestActivation(window->id);
  return sent ? AxStatus::success : AxStatus::failure;
}

ElementRead LinuxPlatform::copyElementAtPosition(const Element& systemWide, float x, float y) {
  const auto* e = systemWide.as<LinuxElement>();
  if (e == nullptr || e->kind != LinuxElement::Kind::systemWide || !connected()) return {};
  ++connections_.statistics().hitTests;
  connections_.setInHitTest(true);
  const HitTestResult hit = hitTest_.elementAt(x, y, deadlineFor(*e));
  connections_.setInHitTest(false);
  switch (hit.outcome) {
    case HitTestResult::Outcome::found:
      return {AxStatus::success, objectElement(hit.object)};
    case HitTestResult::Outcome::nothing:
      return {AxStatus::noValue, std::nullopt};
    case HitTestResult::Outcome::unanswered:
      break;
  }
  return {AxStatus::cannotComplete, std::nullopt};
}

ElementRead LinuxPlatform::applicationHitTest(float x, float y) {
  if (!connected()) return {};
  const double deadline = monotonicNow() + systemTimeout_.value_or(kDefaultMessagingTimeout);
  const std::optional<ObjectRef> found = hitTest_.applicationElementAt(x, y, deadline);
  if (!found) return {};
  return {AxStatus::success, objectElement(*found)};
}

// ---------------------------------------------------------------------------------------
// Workspace.

std::optional<RunningApplication> LinuxPlatform::frontmostApplication() {
  if (!connected()) return std::nullopt;
  return workspace_.frontmostApplication();
}

std::vector<RunningApplication> LinuxPlatform::runningApplications() {
  if (!connected()) return {};
  return workspace_.runningApplications();
}

std::optional<RunningApplication> LinuxPlatform::runningApplication(ProcessId pid) {
  if (!connected()) return std::nullopt;
  return workspace_.runningApplication(pid);
}

bool LinuxPlatform::activate(const RunningApplication& application, unsigned) {
  if (!connected()) return false;
  return workspace_.activate(application);
}

// ---------------------------------------------------------------------------------------
// Process, input, clock, run loop.

ProcessId LinuxPlatform::ownProcessIdentifier() {
  return posix::ownProcessIdentifier();
}

std::string LinuxPlatform::readStandardInput(std::size_t maxBytes) {
  return posix::readStandardInput(maxBytes);
}

WallTime LinuxPlatform::now() {
  return posix::now();
}

void LinuxPlatform::runLoopUntil(WallTime date) {
  // The date is wall-clock time; the wait is measured on the monotonic clock.
  constexpr double kLongestWait = 86400;
  const double left = std::min(date - now(), kLongestWait);
  if (!(left > 0)) return;
  // Replies still owed to earlier calls are served, and X events, until then.
  const int display = display_ ? display_->descriptor() : -1;
  connections_.serveUntil(
      display,
      [this] {
        if (display_) display_->drainEvents();
      },
      monotonicNow() + left);
}

}  // namespace lin
}  // namespace nevo
