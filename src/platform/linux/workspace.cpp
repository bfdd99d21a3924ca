#include "platform/linux/workspace.h"

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <fstream>
#include <memory>

#include "platform/linux/text_utf8.h"

namespace nevo::lin {
namespace {

// An application without a managed top-level window is not one the user switches to.
constexpr int kActivationPolicyAccessory = 1;

bool processExists(ProcessId pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string processName(ProcessId pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

ObjectRef rootOf(const std::string& bus) {
  return ObjectRef{bus, std::string(kRootPath)};
}

}  // namespace

void Workspace::attach(X11Desktop& display, std::optional<std::vector<ObjectRef>> registryListing) {
  display_ = &display;
  registryListing_ = std::move(registryListing);
}

// ---------------------------------------------------------------------------------------
// Applications.

bool Workspace::refreshApplications(double deadline) {
  // The listing given at start-up serves the first look-up.
  std::optional<std::vector<ObjectRef>> applications = std::move(registryListing_);
  registryListing_.reset();
  if (!applications) applications = connections_.listApplications(deadline);
  if (!applications) return false;
  auto outstanding = std::make_shared<int>(0);
  for (const ObjectRef& app : *applications) {
    if (!validBusName(app.bus) || pidsByBus_.count(app.bus) != 0) continue;
    const std::string bus = app.bus;
    if (connections_.sendToBus(connectionPidCall(bus),
                               [this, bus, outstanding](const ReceivedMessage& reply) {
                                 --*outstanding;
                                 const std::optional<std::uint32_t> pid = uint32Reply(reply);
                                 if (pid && *pid > 0 && *pid <= 0x7fffffffu) {
                                   pidsByBus_[bus] = static_cast<ProcessId>(*pid);
                                 }
                               })) {
      ++*outstanding;
    }
  }
  return connections_.await([&] { return *outstanding == 0; }, deadline);
}

std::optional<std::string> Workspace::knownBus(ProcessId pid) const {
  for (const auto& [bus, owner] : pidsByBus_) {
    if (owner == pid) return bus;
  }
  return std::nullopt;
}

void Workspace::lookUp(const std::vector<ProcessId>& pids) {
  // One refresh for all the processes not known yet; a process the registry did not list
  // then is not asked about again in this run (each refresh is a round trip to the
  // registry, and the window list would otherwise make one for every process that is not
  // accessible, twice).
  std::vector<ProcessId> unknown;
  for (const ProcessId pid : pids) {
    if (unlisted_.count(pid) == 0 && !knownBus(pid)) unknown.push_back(pid);
  }
  if (unknown.empty()) return;
  refreshApplications(monotonicNow() + kWorkspaceSeconds);
  for (const ProcessId pid : unknown) {
    if (!knownBus(pid)) unlisted_.insert(pid);
  }
}

std::optional<std::string> Workspace::busForPid(ProcessId pid) {
  if (!connections_.connected()) return std::nullopt;
  lookUp({pid});
  return knownBus(pid);
}

std::optional<ProcessId> Workspace::pidForBus(const std::string& bus) {
  auto found = pidsByBus_.find(bus);
  if (found == pidsByBus_.end()) {
    refreshApplications(monotonicNow() + kWorkspaceSeconds);
    found = pidsByBus_.find(bus);
  }
  if (found == pidsByBus_.end()) return std::nullopt;
  return found->second;
}

void Workspace::fetchNames(const std::vector<ProcessId>& pids) {
  if (connections_.connected()) lookUp(pids);
  const double deadline = monotonicNow() + kWorkspaceSeconds;
  auto outstanding = std::make_shared<int>(0);
  for (const ProcessId pid : pids) {
    if (names_.count(pid) != 0) continue;
    names_[pid] = std::string();
    const std::optional<std::string> bus = busForPid(pid);
    if (!bus) continue;
    if (connections_.send(*bus, getPropertyCall(rootOf(*bus), kAccessibleInterface, "Name"),
                          [this, pid, outstanding](const ReceivedMessage& reply) {
                            --*outstanding;
                            names_[pid] = variantStringReply(reply).value_or("");
                          })) {
      ++*outstanding;
    }
  }
  connections_.await([&] { return *outstanding == 0; }, deadline);
}

RunningApplication Workspace::describe(ProcessId pid, const std::vector<ClientWindow>& clients,
                                       bool managed) {
  RunningApplication application;
  application.processIdentifier = pid;
  // The desktop's name first, then the one the application gives itself, then the process's.
  const auto name = names_.find(pid);
  std::string localized = desktopName(pid, clients).value_or(std::string());
  if (localized.empty() && name != names_.end()) localized = name->second;
  if (localized.empty()) localized = validUtf8(processName(pid));
  if (!localized.empty()) application.localizedName = localized;
  for (const ClientWindow& client : clients) {
    if (client.pid != pid) continue;
    if (!client.applicationId.empty()) {
      application.bundleIdentifier = client.applicationId;
      break;
    }
    if (!application.bundleIdentifier && !client.windowClass.empty()) {
      application.bundleIdentifier = client.windowClass;
    }
  }
  application.activationPolicy = managed ? kActivationPolicyRegular : kActivationPolicyAccessory;
  application.terminated = !processExists(pid);
  return application;
}

std::optional<std::string> Workspace::desktopName(ProcessId pid,
                                                  const std::vector<ClientWindow>& clients) {
  std::vector<const ClientWindow*> own;
  for (const ClientWindow& client : clients) {
    if (client.pid == pid) own.push_back(&client);
  }
  std::stable_sort(own.begin(), own.end(), [](const ClientWindow* a, const ClientWindow* b) {
    return a->managedOrder < b->managedOrder;
  });
  if (own.empty()) return std::nullopt;
  if (!desktopEntries_) desktopEntries_.emplace(applicationFolders(), messagesLocale());
  for (const ClientWindow* client : own) {
    std::optional<std::string> found = desktopEntries_->nameFor(
        client->applicationId, client->windowClass, client->windowInstance);
    if (found) return found;
  }
  return std::nullopt;
}

std::optional<RunningApplication> Workspace::frontmostApplication() {
  if (display_ == nullptr) return std::nullopt;
  const std::optional<xcb_window_t> active = display_->activeWindow();
  if (!active) return std::nullopt;
  const ProcessId pid = display_->windowPid(*active);
  if (pid <= 0) return std::nullopt;
  fetchNames({pid});
  return describe(pid, display_->clientWindows(pid), true);
}

std::vector<RunningApplication> Workspace::runningApplications() {
  if (display_ == nullptr) return {};
  const std::vector<ClientWindow> clients = display_->clientWindows();
  std::vector<ProcessId> pids;
  for (const ClientWindow& client : clients) {
    if (client.pid > 0 && std::find(pids.begin(), pids.end(), client.pid) == pids.end()) {
      pids.push_back(client.pid);
    }
  }
  fetchNames(pids);
  std::vector<RunningApplication> applications;
  applications.reserve(pids.size());
  for (const ProcessId pid : pids) applications.push_back(describe(pid, clients, true));
  return applications;
}

std::optional<RunningApplication> Workspace::runningApplication(ProcessId pid) {
  if (display_ == nullptr || !processExists(pid)) return std::nullopt;
  const std::vector<ClientWindow> clients = display_->clientWindows(pid);
  fetchNames({pid});
  return describe(pid, clients, !clients.empty());
}

bool Workspace::activate(const RunningApplication& application) {
  if (display_ == nullptr || !processExists(application.processIdentifier)) return false;
  const std::vector<ClientWindow> clients = display_->clientWindows(application.processIdentifier);
  const ClientWindow* chosen = nullptr;
  for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
    if (it->pid != application.processIdentifier) continue;
    if (chosen == nullptr || (chosen->hidden && !it->hidden)) chosen = &*it;
    if (!chosen->hidden) break;
  }
  if (chosen == nullptr) return false;
  return display_->requestActivation(chosen->id);
}

// ---------------------------------------------------------------------------------------
// Accessible windows and client windows.

const std::vector<ClientWindow>& Workspace::windowsForHitTests() {
  if (!hitTestWindows_) {
    hitTestWindows_ = display_ != nullptr ? display_->clientWindows() : std::vector<ClientWindow>();
  }
  return *hitTestWindows_;
}

std::vector<AccessibleWindow> Workspace::describeWindows(const std::vector<ObjectRef>& windows,
                                                         bool reread, double deadline) {
  for (const ObjectRef& ref : windows) {
    CachedObject& window = cache_.object(ref);
    if (!pending(window.name) && (reread || !window.name.value)) cache_.requestName(window);
    if (!pending(window.extents) && (reread || !window.extents.value)) {
      cache_.requestExtents(window);
    }
  }
  connections_.await(
      [&] {
        return std::none_of(windows.begin(), windows.end(), [&](const ObjectRef& ref) {
          const CachedObject& window = cache_.object(ref);
          return pending(window.name) || pending(window.extents);
        });
      },
      deadline);
  std::vector<AccessibleWindow> described;
  described.reserve(windows.size());
  for (const ObjectRef& ref : windows) {
    const CachedObject& window = cache_.object(ref);
    AccessibleWindow entry;
    if (window.name.value) entry.title = *window.name.value;
    if (window.extents.value) {
      const Extents& x = *window.extents.value;
      entry.frame = ScreenRect{double(x.x), double(x.y), double(x.width), double(x.height)};
    }
    described.push_back(std::move(entry));
  }
  return described;
}

Workspace::Pairing Workspace::pairWindows(ProcessId pid, const std::vector<ObjectRef>& windows,
                                          bool reread, const std::vector<ClientWindow>* known,
                                          double deadline) {
  const std::vector<AccessibleWindow> described = describeWindows(windows, reread, deadline);
  Pairing pairing;
  const std::vector<ClientWindow> read =
      known ? std::vector<ClientWindow>() : display_->clientWindows(pid);
  for (const ClientWindow& client : known ? *known : read) {
    if (client.pid == pid) pairing.clients.push_back(client);
  }
  pairing.pairs = matchWindows(described, pairing.clients);
  return pairing;
}

std::vector<ObjectRef> Workspace::windowsOnDesktop(const std::string& bus,
                                                   std::vector<ObjectRef> windows,
                                                   double deadline) {
  if (display_ == nullptr || windows.empty()) return windows;
  const std::optional<ProcessId> pid = pidForBus(bus);
  if (!pid) return windows;
  const auto [same, pairs] = pairWindows(*pid, windows, false, nullptr, deadline);
  // A window left unpaired is left out only when what it says of itself (its title and its
  // frame) could be read: one that did not answer in time is not known to be a phantom.
  std::vector<ObjectRef> shown;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (pairs[i]) {
      shownBy_.try_emplace(windows[i], same[*pairs[i]].id);
    } else {
      const CachedObject& window = cache_.object(windows[i]);
      if (window.name.value && window.extents.value) continue;
    }
    shown.push_back(std::move(windows[i]));
  }
  return shown;
}

std::optional<ObjectRef> Workspace::accessibleWindowOf(const ClientWindow& client,
                                                       double deadline) {
  if (display_ == nullptr || client.pid <= 0) return std::nullopt;
  const std::optional<std::string> bus = busForPid(client.pid);
  if (!bus) return std::nullopt;
  const std::optional<std::vector<ObjectRef>> windows =
      cache_.applicationWindows(cache_.object(rootOf(*bus)), deadline);
  if (!windows || windows->empty()) return std::nullopt;
  const auto [same, pairs] =
      pairWindows(client.pid, *windows, false, hitTestWindows_ ? &*hitTestWindows_ : nullptr,
                  deadline);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i] && same[*pairs[i]].id == client.id) {
      shownBy_[(*windows)[i]] = client.id;
      return (*windows)[i];
    }
  }
  return std::nullopt;
}

std::optional<ClientWindow> Workspace::clientWindowOf(CachedObject& window, double deadline) {
  if (display_ == nullptr) return std::nullopt;
  const std::optional<ProcessId> pid = pidForBus(window.ref.bus);
  if (!pid) return std::nullopt;
  if (const auto known = shownBy_.find(window.ref); known != shownBy_.end()) {
    for (ClientWindow& client : display_->clientWindows(*pid)) {
      if (client.id == known->second) return std::move(client);
    }
    // The client window has gone: pair afresh.
    shownBy_.erase(known);
  }
  const std::optional<std::vector<ObjectRef>> windows =
      cache_.applicationWindows(cache_.object(rootOf(window.ref.bus)), deadline);
  if (!windows) return std::nullopt;
  const auto position = std::find(windows->begin(), windows->end(), window.ref);
  if (position == windows->end()) return std::nullopt;
  const auto [same, pairs] = pairWindows(*pid, *windows, true, nullptr, deadline);
  const auto index = static_cast<std::size_t>(position - windows->begin());
  if (!pairs[index]) return std::nullopt;
  shownBy_[window.ref] = same[*pairs[index]].id;
  return same[*pairs[index]];
}

Workspace::Origin Workspace::originOf(CachedObject& window, double deadline) {
  if (const auto known = origins_.find(window.ref); known != origins_.end()) return known->second;
  if (window.extents.state == SlotState::idle) cache_.requestExtents(window);
  connections_.await([&] { return !pending(window.extents); }, deadline);
  if (pending(window.extents)) return {};  // decided when the extents come
  Origin origin;
  const std::optional<Extents>& extents = window.extents.value;
  if (extents && extents->x == 0 && extents->y == 0) {
    const std::optional<ClientWindow> client = clientWindowOf(window, deadline);
    if (!client) {
      // Not paired (no client window shows it, or none answered in time): its extents are
      // taken as they are, for the run, rather than pairing it again for every element.
      origins_[window.ref] = origin;
      return origin;
    }
    const bool relative =
        cache_.toolkits().awaitFacts(window.ref.bus, deadline).windowRelativeCoordinates();
    if (const std::optional<ScreenPoint> start =
            windowRelativeOrigin(extents->width, extents->height, *client, relative)) {
      origin = Origin{static_cast<std::int32_t>(std::floor(start->x)),
                      static_cast<std::int32_t>(std::floor(start->y))};
    }
  }
  // An empty window (minimized in GTK 4) tells nothing yet: decided when it is shown.
  if (extents && extents->width == 0 && extents->height == 0) return origin;
  origins_[window.ref] = origin;
  return origin;
}

std::optional<ScreenRect> Workspace::frameOfEmptyWindow(CachedObject& window, double deadline) {
  const std::optional<ClientWindow> client = clientWindowOf(window, deadline);
  if (!client) return std::nullopt;
  return client->client;
}

std::optional<bool> Workspace::clientHidden(CachedObject& window, double deadline) {
  const std::optional<ClientWindow> client = clientWindowOf(window, deadline);
  if (!client) return std::nullopt;
  return client->hidden;
}

}  // namespace nevo::lin
