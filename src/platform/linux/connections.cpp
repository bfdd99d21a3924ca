#include "platform/linux/connections.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

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
  if (std::ifstream(path).good() || ::access(path.c_str(), F_OK) == 0) return "unix:path=" + path;
  return {};
}

// The accessibility bus's address as its launcher tells it on the session bus, without
// starting a launcher that is not running; "" when there is none by the deadline.
std::string launcherBusAddress(double deadline) {
  std::unique_ptr<DbusTransport> session = DbusTransport::connect(sessionBusAddress());
  if (!session) return {};
  Link link(std::move(session));
  Message hello = helloCall();
  Message ask = accessibilityBusAddressCall();
  if (!hello || !ask) return {};
  bool answered = false;
  std::string address;
  link.call(*hello, [](DBusMessage&) {});
  link.call(*ask, [&](DBusMessage& reply) {
    answered = true;
    address = stringReply(reply).value_or("");
  });
  Link* links[] = {&link};
  serveLinks(
      links, [&] { return answered; }, deadline);
  return address;
}

}  // namespace

std::optional<std::vector<ObjectRef>> Connections::open(X11Desktop& display, double deadline) {
  // The accessibility bus: named in the environment, else published by its launcher on
  // the root window, else asked of the launcher on the session bus.
  std::string address = environment("AT_SPI_BUS_ADDRESS");
  if (address.empty()) address = display.accessibilityBusAddress();
  if (address.empty()) address = launcherBusAddress(deadline);
  if (address.empty()) return std::nullopt;
  std::unique_ptr<DbusTransport> transport = DbusTransport::connect(address);
  if (!transport) return std::nullopt;
  bus_ = std::make_unique<Link>(std::move(transport));
  Message hello = helloCall();
  if (!hello || !bus_->call(*hello, [](DBusMessage&) {})) return std::nullopt;

  // The registry must answer: it is what lists the applications. What it answers also
  // serves the first look-up of the applications.
  struct RegistryListing {
    bool answered = false;
    std::optional<std::vector<ObjectRef>> applications;
  };
  // Shared with the handler, which may run after this wait has given up.
  auto listed = std::make_shared<RegistryListing>();
  Message children = getChildrenCall(ObjectRef{std::string(kRegistryName), std::string(kRootPath)});
  if (!children || !bus_->call(*children, [listed](DBusMessage& reply) {
        listed->answered = true;
        listed->applications = referencesReply(reply, kApplicationListingLimit);
      })) {
    return std::nullopt;
  }
  await([&] { return listed->answered; }, deadline);
  return std::move(listed->applications);
}

Link* Connections::linkFor(const std::string& bus) {
  const auto peer = peers_.find(bus);
  if (peer != peers_.end() && peer->second->open()) {
    auto& transport = static_cast<DbusTransport&>(peer->second->transport());
    if (transport.authenticated()) return peer->second.get();
  }
  return bus_.get();
}

std::vector<Link*> Connections::links() {
  std::vector<Link*> all;
  if (bus_) all.push_back(bus_.get());
  for (auto& [name, link] : peers_) all.push_back(link.get());
  return all;
}

void Connections::count(DBusMessage& message, Link* link) {
  ++statistics_.calls;
  if (link != bus_.get()) ++statistics_.peerCalls;
  if (!detailedStatistics_) return;
  // Calls by member (properties calls by the property or interface asked for).
  const char* member = dbus_message_get_member(&message);
  std::string method = member != nullptr ? member : "";
  if (method == "Get" || method == "GetAll") {
    ArgReader args(message);
    const std::optional<std::string> interface = args.string();
    args.next();
    const std::optional<std::string> property = args.string();
    method += " " + (property ? *property : interface.value_or(""));
  }
  ++statistics_.byMethod[method];
  if (inHitTest_ && inHandler_ == 0) ++statistics_.hitTestCalls;
}

bool Connections::send(const std::string& bus, Message message, ReplyHandler handler) {
  if (!message || !bus_) return false;
  Link* link = linkFor(bus);
  if (link == nullptr) return false;
  if (detailedStatistics_) {
    // Handlers counted apart, which tells read-ahead from the calls a waiting operation
    // made itself.
    handler = [this, inner = std::move(handler)](DBusMessage& reply) {
      ++inHandler_;
      inner(reply);
      --inHandler_;
    };
  }
  if (!link->call(*message, std::move(handler))) return false;
  count(*message, link);
  if (link == bus_.get() && ++callsByBus_[bus] == kPeerCallThreshold) openPeer(bus);
  return true;
}

bool Connections::sendToBus(Message message, ReplyHandler handler) {
  if (!message || !bus_ || !bus_->call(*message, std::move(handler))) return false;
  count(*message, bus_.get());
  return true;
}

bool Connections::await(const std::function<bool()>& done, double deadline) {
  const std::vector<Link*> all = links();
  return serveLinks(all, done, deadline);
}

void Connections::openPeer(const std::string& bus) {
  if (peerRequested_[bus]) return;
  peerRequested_[bus] = true;
  // The application's own socket skips the bus daemon's relaying; until it is
  // authenticated (or when it cannot be had) calls keep going through the bus.
  send(bus, getApplicationBusAddressCall(ObjectRef{bus, std::string(kRootPath)}),
       [this, bus](DBusMessage& reply) {
         const std::optional<std::string> address = stringReply(reply);
         if (!address || address->empty()) return;
         std::unique_ptr<DbusTransport> transport = DbusTransport::connect(*address);
         if (transport) peers_[bus] = std::make_unique<Link>(std::move(transport));
       });
}

void Connections::serveReceived() {
  for (Link* link : links()) {
    link->transport().pump();
    link->drain();
  }
}

void Connections::addDescriptors(std::vector<pollfd>& descriptors) {
  for (Link* link : links()) {
    const int fd = link->transport().descriptor();
    if (fd >= 0 && link->open()) descriptors.push_back(pollfd{fd, POLLIN, 0});
  }
}

}  // namespace nevo::lin
