#include "platform/linux/connections.h"

#include <unistd.h>

#include <cstdlib>

namespace nevo::lin {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// The session bus's address: the environment's, else the per-user bus of the runtime
// directory.
std::string sessionBusAddress() {
  std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
  if (!address.empty()) return address;
  const std::string runtime = environment("XDG_RUNTIME_DIR");
  if (runtime.empty()) return {};
  const std::string path = runtime + "/bus";
  // A socket: it exists, though it cannot be opened as a file.
  if (::access(path.c_str(), F_OK) == 0) return "unix:path=" + path;
  return {};
}

// What the accessibility bus's launcher on the session bus tells, without starting a
// launcher that is not running: the desktop's accessibility switch (`IsEnabled`, absent
// when it cannot be read) and, when asked for, the bus's address ("" when none).
struct LauncherAnswer {
  std::optional<bool> enabled;
  std::string address;
};

LauncherAnswer askLauncher(bool wantAddress, double deadline) {
  LauncherAnswer answer;
  std::unique_ptr<Link> link = Link::connect(sessionBusAddress());
  if (!link) return answer;
  bool enabledAnswered = false;
  bool addressAnswered = !wantAddress;
  link->call(helloCall(), [](const ReceivedMessage&) {});
  link->call(accessibilityEnabledCall(), [&](const ReceivedMessage& reply) {
    enabledAnswered = true;
    answer.enabled = variantBooleanReply(reply);
  });
  if (wantAddress) {
    link->call(accessibilityBusAddressCall(), [&](const ReceivedMessage& reply) {
      addressAnswered = true;
      answer.address = stringReply(reply).value_or("");
    });
  }
  Link* links[] = {link.get()};
  serveLinks(
      links, [&] { return enabledAnswered && addressAnswered; }, deadline);
  return answer;
}

}  // namespace

std::optional<std::vector<ObjectRef>> Connections::open(X11Desktop& display, double deadline) {
  // The accessibility bus: named in the environment, else published by its launcher on
  // the root window, else asked of the launcher on the session bus.
  std::string address = environment("AT_SPI_BUS_ADDRESS");
  if (address.empty()) address = display.accessibilityBusAddress();
  // The desktop's accessibility switch is the permission: switched off (the launcher says
  // so), toolkits such as Qt's expose nothing, and the user is asked to switch it on. The
  // tool never switches it on itself. Where there is no launcher to ask, the bus decides.
  const LauncherAnswer launcher = askLauncher(address.empty(), deadline);
  if (launcher.enabled == false) return std::nullopt;
  if (address.empty()) address = launcher.address;
  if (address.empty()) return std::nullopt;
  bus_ = Link::connect(address);
  if (!bus_ || !bus_->call(helloCall(), [](const ReceivedMessage&) {})) return std::nullopt;

  // Listening wakes the applications that expose their tree only to a client that listens
  // (above). Sent before the listing, so that it has been taken by the time the registry
  // answers; the reply itself is not needed.
  if (!bus_->call(registerEventCall(kWakeEvent), [](const ReceivedMessage&) {})) {
    return std::nullopt;
  }
  wokenAt_ = monotonicNow();

  // The registry must answer: it is what lists the applications. What it answers also
  // serves the first look-up of the applications.
  return listApplications(deadline);
}

std::optional<std::vector<ObjectRef>> Connections::listApplications(double deadline) {
  struct RegistryListing {
    bool answered = false;
    std::optional<std::vector<ObjectRef>> applications;
  };
  // Shared with the handler, which may run after this wait has given up.
  auto listed = std::make_shared<RegistryListing>();
  const Call children =
      getChildrenCall(ObjectRef{std::string(kRegistryName), std::string(kRootPath)});
  if (!sendToBus(children, [listed](const ReceivedMessage& reply) {
        listed->answered = true;
        listed->applications = referencesReply(reply, kApplicationListingLimit);
      })) {
    return std::nullopt;
  }
  await([&] { return listed->answered; }, deadline);
  return std::move(listed->applications);
}

Link* Connections::linkFor(const std::string& bus) {
  // The application's own connections in turn, those that are ready; the bus until one is.
  const auto peers = peers_.find(bus);
  if (peers != peers_.end()) {
    const std::vector<std::unique_ptr<Link>>& own = peers->second;
    for (std::size_t i = 0; i < own.size(); ++i) {
      Link* link = own[(nextPeer_ + i) % own.size()].get();
      if (link->ready()) {
        nextPeer_ = (nextPeer_ + i + 1) % own.size();
        return link;
      }
    }
  }
  return bus_.get();
}

std::vector<Link*> Connections::links() {
  std::vector<Link*> all;
  if (bus_) all.push_back(bus_.get());
  for (auto& [name, own] : peers_) {
    for (auto& link : own) all.push_back(link.get());
  }
  return all;
}

void Connections::count(const Call& call, Link* link) {
  ++statistics_.calls;
  if (link != bus_.get()) ++statistics_.peerCalls;
  if (!detailedStatistics_) return;
  // Calls by member (properties calls by the property or interface asked for).
  ++statistics_.byMethod[call.detail.empty() ? call.member : call.member + " " + call.detail];
  if (inHitTest_ && inHandler_ == 0) ++statistics_.hitTestCalls;
}

bool Connections::send(const std::string& bus, const Call& call, ReplyHandler handler) {
  if (!call || !bus_) return false;
  Link* link = linkFor(bus);
  if (link == nullptr) return false;
  if (detailedStatistics_) {
    // Handlers counted apart, which tells read-ahead from the calls a waiting operation
    // made itself.
    handler = [this, inner = std::move(handler)](const ReceivedMessage& reply) {
      if (--outstanding_ == 0) idleSince_ = monotonicNow();
      ++inHandler_;
      inner(reply);
      --inHandler_;
    };
  }
  if (link != bus_.get()) {
    // A call on one of the application's own connections that closes before answering is
    // asked again, once, on the bus: an application that closed one of its connections may
    // close the others too, but cannot close the bus's.
    handler = [this, call, inner = std::move(handler)](const ReceivedMessage& reply) {
      if (reply.linkClosed && bus_ && bus_->open() && bus_->call(call, inner)) return;
      inner(reply);
    };
  }
  if (!link->call(call, std::move(handler))) return false;
  // Only a call that went out is outstanding.
  if (detailedStatistics_ && outstanding_++ == 0 && idleSince_ > 0) {
    statistics_.idleSeconds += monotonicNow() - idleSince_;
  }
  count(call, link);
  // Counts only grow, so each threshold is met once per application.
  const int calls = ++callsByBus_[bus];
  if (calls == kPeerCallThreshold) openPeer(bus);
  if (calls == kWidePeerCallThreshold) {
    const auto address = peerAddresses_.find(bus);
    if (address != peerAddresses_.end()) connectPeers(bus, kPeerConnections - 1);
  }
  return true;
}

bool Connections::sendToBus(const Call& call, ReplyHandler handler) {
  if (!call || !bus_ || !bus_->call(call, std::move(handler))) return false;
  count(call, bus_.get());
  return true;
}

bool Connections::await(const std::function<bool()>& done, double deadline) {
  const std::vector<Link*> all = links();
  if (!detailedStatistics_) return serveLinks(all, done, deadline);
  const double start = monotonicNow();
  const bool result = serveLinks(all, done, deadline);
  statistics_.waitingSeconds += monotonicNow() - start;
  return result;
}

void Connections::openPeer(const std::string& bus) {
  // The application's own socket skips the bus daemon's relaying; until it is
  // authenticated (or when it cannot be had) calls keep going through the bus.
  send(bus, getApplicationBusAddressCall(ObjectRef{bus, std::string(kRootPath)}),
       [this, bus](const ReceivedMessage& reply) {
         const std::optional<std::string> address = stringReply(reply);
         if (!address || address->empty()) return;
         peerAddresses_[bus] = *address;
         const bool wide = callsByBus_[bus] >= kWidePeerCallThreshold;
         connectPeers(bus, wide ? kPeerConnections : 1);
       });
}

void Connections::connectPeers(const std::string& bus, int count) {
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<Link> peer = Link::connect(peerAddresses_[bus]);
    if (peer) peers_[bus].push_back(std::move(peer));
  }
}

void Connections::serveUntil(int watched, const std::function<void()>& onWatched,
                             double deadline) {
  serveLinksUntil(links(), watched, onWatched, deadline);
}

}  // namespace nevo::lin
