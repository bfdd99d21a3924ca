#include "platform/linux/atspi_wire.h"

#include "platform/linux/text_utf8.h"

namespace nevo::lin {
namespace {

// The protocol's numbers for what these calls pass.
constexpr std::uint32_t kScreenCoordinates = 0;
constexpr std::int32_t kMatchAll = 1;
constexpr std::uint32_t kSortCanonical = 1;

// Names no one: an object's call to it is refused like a call to any invalid name.
constexpr std::string_view kNoBusName = "-";

CallWriter objectCall(const ObjectRef& object, std::string_view interface,
                      std::string_view method) {
  // An empty bus name would leave the call without a destination (as on a peer connection)
  // rather than refuse it.
  return CallWriter(object.bus.empty() ? kNoBusName : std::string_view(object.bus), object.path,
                    interface, method);
}

std::optional<ObjectRef> reference(const ArgReader& reader) {
  std::optional<ArgReader> inner = reader.recurse(kTypeStruct);
  if (!inner) return std::nullopt;
  const std::optional<std::string_view> bus = inner->string();
  if (!bus || !inner->next()) return std::nullopt;
  const std::optional<std::string_view> path = inner->string();
  if (!path) return std::nullopt;
  return ObjectRef{std::string(*bus), std::string(*path)};
}

// A reply of the call's own shape: a method return whose arguments are `signature`.
bool shaped(const ReceivedMessage& reply, std::string_view signature) {
  return !isError(reply) && reply.signature == signature;
}

std::optional<ArgReader> variant(const ReceivedMessage& reply) {
  if (!shaped(reply, "v")) return std::nullopt;
  return ArgReader(reply).recurse(kTypeVariant);
}

std::optional<std::string> text(const ArgReader& reader) {
  if (reader.type() != kTypeString) return std::nullopt;
  const std::optional<std::string_view> value = reader.string();
  if (!value) return std::nullopt;
  return validUtf8(*value);
}

}  // namespace

Call getRoleCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetRole").finish();
}

Call getAttributesCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetAttributes").finish();
}

Call getStateCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetState").finish();
}

Call getExtentsCall(const ObjectRef& object) {
  return objectCall(object, kComponentInterface, "GetExtents").uint32(kScreenCoordinates).finish();
}

Call getChildrenCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetChildren").finish();
}

Call getPropertyCall(const ObjectRef& object, std::string_view interface,
                     std::string_view property) {
  Call call =
      objectCall(object, kPropertiesInterface, "Get").string(interface).string(property).finish();
  call.detail = property;
  return call;
}

Call getInterfacesCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetInterfaces").finish();
}

Call getTextCall(const ObjectRef& object, std::int32_t count) {
  return objectCall(object, kTextInterface, "GetText").int32(0).int32(count).finish();
}

Call getMatchesCall(const ObjectRef& object, StateSet states, std::int32_t count, bool traverse) {
  CallWriter call = objectCall(object, kCollectionInterface, "GetMatches");
  // The rule: states (the 64-bit set as two 32-bit words, all of them required), no
  // attributes, roles or interfaces, not inverted.
  call.openStruct()
      .openArray("i")
      .int32(static_cast<std::int32_t>(states & 0xffffffffu))
      .int32(static_cast<std::int32_t>(states >> 32))
      .closeArray()
      .int32(kMatchAll)
      .openArray("{ss}")
      .closeArray()
      .int32(kMatchAll)
      .openArray("i")
      .closeArray()
      .int32(kMatchAll)
      .openArray("s")
      .closeArray()
      .int32(kMatchAll)
      .boolean(false)
      .closeStruct();
  return call.uint32(kSortCanonical).int32(count).boolean(traverse).finish();
}

Call getAccessibleAtPointCall(const ObjectRef& object, std::int32_t x, std::int32_t y) {
  return objectCall(object, kComponentInterface, "GetAccessibleAtPoint")
      .int32(x)
      .int32(y)
      .uint32(kScreenCoordinates)
      .finish();
}

Call getApplicationBusAddressCall(const ObjectRef& application) {
  return objectCall(application, kApplicationInterface, "GetApplicationBusAddress").finish();
}

Call helloCall() {
  return CallWriter(kBusDaemonName, kBusDaemonPath, kBusDaemonInterface, "Hello").finish();
}

Call connectionPidCall(std::string_view busName) {
  if (!validBusName(busName)) return {};
  return CallWriter(kBusDaemonName, kBusDaemonPath, kBusDaemonInterface,
                    "GetConnectionUnixProcessID")
      .string(busName)
      .finish();
}

Call registerEventCall(std::string_view event) {
  return CallWriter(kRegistryName, kRegistryPath, kRegistryInterface, "RegisterEvent")
      .string(event)
      .openArray("s")
      .closeArray()
      .string("")
      .finish();
}

Call accessibilityBusAddressCall() {
  return CallWriter(kLauncherName, kLauncherPath, kLauncherName, "GetAddress").finish();
}

Call accessibilityEnabledCall() {
  Call call = CallWriter(kLauncherName, kLauncherPath, kPropertiesInterface, "Get")
                  .string(kStatusInterface)
                  .string("IsEnabled")
                  .finish();
  call.detail = "IsEnabled";
  return call;
}

bool isError(const ReceivedMessage& reply) {
  return reply.type != kMessageMethodReturn;
}

std::optional<std::uint32_t> uint32Reply(const ReceivedMessage& reply) {
  if (!shaped(reply, "u")) return std::nullopt;
  return ArgReader(reply).uint32();
}

std::optional<std::string> stringReply(const ReceivedMessage& reply) {
  if (!shaped(reply, "s")) return std::nullopt;
  return text(ArgReader(reply));
}

std::optional<StateSet> stateReply(const ReceivedMessage& reply) {
  if (!shaped(reply, "au") && !shaped(reply, "ai")) return std::nullopt;
  std::optional<ArgReader> words = ArgReader(reply).recurse(kTypeArray);
  if (!words) return std::nullopt;
  StateSet set = 0;
  for (unsigned word = 0; word < 2; ++word) {
    if (words->type() == kTypeInvalid) break;
    std::optional<std::uint32_t> bits = words->uint32();
    if (!bits) {
      const std::optional<std::int32_t> signedBits = words->int32();
      if (!signedBits) return std::nullopt;
      bits = static_cast<std::uint32_t>(*signedBits);
    }
    set |= static_cast<StateSet>(*bits) << (32 * word);
    words->next();
  }
  return set;
}

std::optional<Extents> extentsReply(const ReceivedMessage& reply) {
  if (!shaped(reply, "(iiii)")) return std::nullopt;
  std::optional<ArgReader> box = ArgReader(reply).recurse(kTypeStruct);
  if (!box) return std::nullopt;
  std::int32_t values[4];
  for (int i = 0; i < 4; ++i) {
    const std::optional<std::int32_t> value = box->int32();
    if (!value) return std::nullopt;
    values[i] = *value;
    if (i < 3 && !box->next()) return std::nullopt;
  }
  return Extents{values[0], values[1], values[2], values[3]};
}

std::optional<ObjectRef> referenceReply(const ReceivedMessage& reply) {
  if (!shaped(reply, "(so)")) return std::nullopt;
  return reference(ArgReader(reply));
}

std::optional<std::vector<ObjectRef>> referencesReply(const ReceivedMessage& reply,
                                                      std::size_t limit) {
  if (!shaped(reply, "a(so)")) return std::nullopt;
  std::optional<ArgReader> items = ArgReader(reply).recurse(kTypeArray);
  if (!items) return std::nullopt;
  std::vector<ObjectRef> references;
  while (items->type() != kTypeInvalid && references.size() < limit) {
    std::optional<ObjectRef> item = reference(*items);
    if (!item) return std::nullopt;
    references.push_back(std::move(*item));
    if (!items->next()) break;
  }
  if (!items->valid()) return std::nullopt;
  return references;
}

std::optional<std::vector<std::string>> stringsReply(const ReceivedMessage& reply,
                                                     std::size_t limit) {
  if (!shaped(reply, "as")) return std::nullopt;
  std::optional<ArgReader> items = ArgReader(reply).recurse(kTypeArray);
  if (!items) return std::nullopt;
  std::vector<std::string> strings;
  while (items->type() != kTypeInvalid && strings.size() < limit) {
    std::optional<std::string> item = text(*items);
    if (!item) return std::nullopt;
    strings.push_back(std::move(*item));
    if (!items->next()) break;
  }
  if (!items->valid()) return std::nullopt;
  return strings;
}

std::optional<std::string> variantStringReply(const ReceivedMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return text(*value);
}

std::optional<std::int32_t> variantInt32Reply(const ReceivedMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return value->int32();
}

std::optional<double> variantDoubleReply(const ReceivedMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return value->float64();
}

std::optional<ObjectRef> variantReferenceReply(const ReceivedMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return reference(*value);
}

std::optional<bool> variantBooleanReply(const ReceivedMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return value->boolean();
}

}  // namespace nevo::lin
