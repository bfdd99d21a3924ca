#include "platform/linux/toolkit_facts.h"

#include <algorithm>
#include <cstdlib>

namespace nevo::lin {

bool ToolkitFacts::offers(std::string_view interface) const {
  return std::find(rootInterfaces.begin(), rootInterfaces.end(), interface) != rootInterfaces.end();
}

bool ToolkitFacts::offersCollection() const {
  return offers(kCollectionInterface);
}

bool ToolkitFacts::setsIconified() const {
  // Measured: GTK 4 and Qt set no `iconified`; any other toolkit (GTK 3 included), and one
  // not told, is taken at its state.
  return !(name == "Qt" || (name == "GTK" && std::atoi(version.c_str()) >= 4));
}

bool ToolkitFacts::windowRelativeCoordinates() const {
  return name == "GTK" && std::atoi(version.c_str()) >= 4;
}

bool ToolkitFacts::setsShowing() const {
  // Measured: GTK 4.8 sets `showing` on its windows alone, and `visible` on every element
  // of them, a hidden stack page included. Every other toolkit, and one not told, is taken
  // at its state.
  return !(name == "GTK" && std::atoi(version.c_str()) >= 4);
}

void Toolkits::request(const std::string& bus) {
  if (facts_.count(bus) != 0) return;
  // Shared with the handlers, which may run after a wait has given up.
  auto facts = std::make_shared<ToolkitFacts>();
  facts_[bus] = facts;
  const ObjectRef root{bus, std::string(kRootPath)};
  const auto send = [&](const Call& call, unsigned bit, auto take) {
    if (!connections_.send(bus, call, [facts, bit, take](const ReceivedMessage& reply) {
          take(*facts, reply);
          facts->answered |= bit;
        })) {
      facts->answered |= bit;
    }
  };
  send(getInterfacesCall(root), 1u, [](ToolkitFacts& f, const ReceivedMessage& reply) {
    f.rootInterfaces =
        stringsReply(reply, kInterfaceListingLimit).value_or(std::vector<std::string>());
  });
  send(getPropertyCall(root, kApplicationInterface, "ToolkitName"), 2u,
       [](ToolkitFacts& f, const ReceivedMessage& reply) {
         f.name = variantStringReply(reply).value_or("");
       });
  send(getPropertyCall(root, kApplicationInterface, "Version"), 4u,
       [](ToolkitFacts& f, const ReceivedMessage& reply) {
         f.version = variantStringReply(reply).value_or("");
       });
  send(getPropertyCall(root, kAccessibleInterface, "AccessibleId"), 8u,
       [](ToolkitFacts& f, const ReceivedMessage& reply) {
         f.accessibleIdAnswered = variantStringReply(reply).has_value();
       });
}

const ToolkitFacts& Toolkits::facts(const std::string& bus) {
  request(bus);
  return *facts_[bus];
}

const ToolkitFacts& Toolkits::awaitFacts(const std::string& bus, double deadline) {
  request(bus);
  const std::shared_ptr<ToolkitFacts> facts = facts_[bus];
  connections_.await([&] { return facts->known(); }, deadline);
  return *facts;
}

}  // namespace nevo::lin
