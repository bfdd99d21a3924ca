#include "platform/linux/atspi_wire.h"

namespace nevo::lin {
namespace {

// The protocol's numbers for what these calls pass.
constexpr dbus_uint32_t kScreenCoordinates = 0;
constexpr dbus_int32_t kMatchAll = 1;
constexpr dbus_uint32_t kSortCanonical = 1;

Message objectCall(const ObjectRef& object, std::string_view interface, std::string_view method) {
  if (!validBusName(object.bus)) return nullptr;
  return methodCall(object.bus, object.path, interface, method);
}

bool appendStrings(DBusMessage& message, std::string_view a, std::string_view b) {
  const std::string first(a), second(b);
  const char* p = first.c_str();
  const char* q = second.c_str();
  return dbus_message_append_args(&message, DBUS_TYPE_STRING, &p, DBUS_TYPE_STRING, &q,
                                  DBUS_TYPE_INVALID) != 0;
}

std::optional<ObjectRef> reference(ArgReader& reader) {
  std::optional<ArgReader> inner = reader.recurse(DBUS_TYPE_STRUCT);
  if (!inner) return std::nullopt;
  std::optional<std::string> bus = inner->string();
  if (!bus || !inner->next()) return std::nullopt;
  std::optional<std::string> path = inner->string();
  if (!path) return std::nullopt;
  return ObjectRef{std::move(*bus), std::move(*path)};
}

std::optional<ArgReader> variant(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  return reader.recurse(DBUS_TYPE_VARIANT);
}

}  // namespace

Message getRoleCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetRole");
}

Message getStateCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetState");
}

Message getExtentsCall(const ObjectRef& object) {
  Message message = objectCall(object, kComponentInterface, "GetExtents");
  const dbus_uint32_t type = kScreenCoordinates;
  if (message &&
      !dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &type, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message getChildrenCall(const ObjectRef& object) {
  return objectCall(object, kAccessibleInterface, "GetChildren");
}

Message getChildAtIndexCall(const ObjectRef& object, std::int32_t index) {
  Message message = objectCall(object, kAccessibleInterface, "GetChildAtIndex");
  const dbus_int32_t i = index;
  if (message && !dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &i, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message getPropertyCall(const ObjectRef& object, std::string_view interface,
                        std::string_view property) {
  Message message = objectCall(object, kPropertiesInterface, "Get");
  if (message && !appendStrings(*message, interface, property)) return nullptr;
  return message;
}

Message getAllPropertiesCall(const ObjectRef& object, std::string_view interface) {
  Message message = objectCall(object, kPropertiesInterface, "GetAll");
  const std::string name(interface);
  const char* p = name.c_str();
  if (message &&
      !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &p, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message getTextCall(const ObjectRef& object, std::int32_t count) {
  Message message = objectCall(object, kTextInterface, "GetText");
  const dbus_int32_t start = 0;
  const dbus_int32_t end = count;
  if (message && !dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32,
                                           &end, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message getMatchesCall(const ObjectRef& object, StateSet states, std::int32_t count,
                       bool traverse) {
  Message message = objectCall(object, kCollectionInterface, "GetMatches");
  if (!message) return nullptr;
  DBusMessageIter args, rule, array, dict;
  dbus_message_iter_init_append(message.get(), &args);
  bool ok = dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
  // States: the 64-bit set as two 32-bit words, all of them required.
  const dbus_int32_t words[2] = {static_cast<dbus_int32_t>(states & 0xffffffffu),
                                 static_cast<dbus_int32_t>(states >> 32)};
  const dbus_int32_t* wordsPointer = words;
  ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) &&
       dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_INT32, &wordsPointer, 2) &&
       dbus_message_iter_close_container(&rule, &array);
  const dbus_int32_t all = kMatchAll;
  ok = ok && dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
  // No attributes, roles or interfaces asked for.
  ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &dict) &&
       dbus_message_iter_close_container(&rule, &dict) &&
       dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
  ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "i", &array) &&
       dbus_message_iter_close_container(&rule, &array) &&
       dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
  ok = ok && dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &array) &&
       dbus_message_iter_close_container(&rule, &array) &&
       dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &all);
  const dbus_bool_t invert = FALSE;
  ok = ok && dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert) &&
       dbus_message_iter_close_container(&args, &rule);
  const dbus_uint32_t sort = kSortCanonical;
  const dbus_int32_t limit = count;
  const dbus_bool_t walk = traverse ? TRUE : FALSE;
  ok = ok && dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &sort) &&
       dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &limit) &&
       dbus_message_iter_append_basic(&args, DBUS_TYPE_BOOLEAN, &walk);
  if (!ok) return nullptr;
  return message;
}

Message getAccessibleAtPointCall(const ObjectRef& object, std::int32_t x, std::int32_t y) {
  Message message = objectCall(object, kComponentInterface, "GetAccessibleAtPoint");
  const dbus_int32_t px = x;
  const dbus_int32_t py = y;
  const dbus_uint32_t type = kScreenCoordinates;
  if (message && !dbus_message_append_args(message.get(), DBUS_TYPE_INT32, &px, DBUS_TYPE_INT32,
                                           &py, DBUS_TYPE_UINT32, &type, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message getApplicationBusAddressCall(const ObjectRef& application) {
  return objectCall(application, kApplicationInterface, "GetApplicationBusAddress");
}

Message helloCall() {
  return methodCall(kBusDaemonName, kBusDaemonPath, kBusDaemonInterface, "Hello");
}

Message connectionPidCall(std::string_view busName) {
  if (!validBusName(busName)) return nullptr;
  Message message =
      methodCall(kBusDaemonName, kBusDaemonPath, kBusDaemonInterface, "GetConnectionUnixProcessID");
  const std::string name(busName);
  const char* p = name.c_str();
  if (message &&
      !dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &p, DBUS_TYPE_INVALID)) {
    return nullptr;
  }
  return message;
}

Message accessibilityBusAddressCall() {
  return methodCall(kLauncherName, kLauncherPath, kLauncherName, "GetAddress");
}

bool isError(DBusMessage& reply) {
  return dbus_message_get_type(&reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN;
}

std::optional<std::uint32_t> uint32Reply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  return reader.uint32();
}

std::optional<std::string> stringReply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  if (reader.type() != DBUS_TYPE_STRING) return std::nullopt;
  return reader.string();
}

std::optional<StateSet> stateReply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  std::optional<ArgReader> words = reader.recurse(DBUS_TYPE_ARRAY);
  if (!words) return std::nullopt;
  StateSet set = 0;
  for (unsigned word = 0; word < 2; ++word) {
    const int type = words->type();
    if (type == DBUS_TYPE_INVALID) break;
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

std::optional<Extents> extentsReply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  std::optional<ArgReader> box = reader.recurse(DBUS_TYPE_STRUCT);
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

std::optional<ObjectRef> referenceReply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  return reference(reader);
}

std::optional<std::vector<ObjectRef>> referencesReply(DBusMessage& reply, std::size_t limit) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  std::optional<ArgReader> items = reader.recurse(DBUS_TYPE_ARRAY);
  if (!items) return std::nullopt;
  std::vector<ObjectRef> references;
  while (items->type() != DBUS_TYPE_INVALID && references.size() < limit) {
    std::optional<ObjectRef> item = reference(*items);
    if (!item) return std::nullopt;
    references.push_back(std::move(*item));
    if (!items->next()) break;
  }
  return references;
}

std::optional<std::string> variantStringReply(DBusMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value || value->type() != DBUS_TYPE_STRING) return std::nullopt;
  return value->string();
}

std::optional<std::int32_t> variantInt32Reply(DBusMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return value->int32();
}

std::optional<double> variantDoubleReply(DBusMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return value->float64();
}

std::optional<ObjectRef> variantReferenceReply(DBusMessage& reply) {
  std::optional<ArgReader> value = variant(reply);
  if (!value) return std::nullopt;
  return reference(*value);
}

std::optional<AccessibleProperties> accessiblePropertiesReply(DBusMessage& reply) {
  if (isError(reply)) return std::nullopt;
  ArgReader reader(reply);
  std::optional<ArgReader> entries = reader.recurse(DBUS_TYPE_ARRAY);
  if (!entries) return std::nullopt;
  AccessibleProperties properties;
  bool sawName = false;
  while (entries->type() == DBUS_TYPE_DICT_ENTRY) {
    std::optional<ArgReader> entry = entries->recurse(DBUS_TYPE_DICT_ENTRY);
    std::optional<std::string> key = entry ? entry->string() : std::nullopt;
    if (key && entry->next()) {
      std::optional<ArgReader> value = entry->recurse(DBUS_TYPE_VARIANT);
      if (value) {
        if (*key == "Name" && value->type() == DBUS_TYPE_STRING) {
          properties.name = value->string().value_or("");
          sawName = true;
        } else if (*key == "Description" && value->type() == DBUS_TYPE_STRING) {
          properties.description = value->string().value_or("");
        } else if (*key == "AccessibleId" && value->type() == DBUS_TYPE_STRING) {
          properties.accessibleId = value->string().value_or("");
        } else if (*key == "ChildCount") {
          properties.childCount = value->int32().value_or(0);
        } else if (*key == "Parent") {
          properties.parent = reference(*value);
        }
      }
    }
    if (!entries->next()) break;
  }
  if (!sawName) return std::nullopt;
  return properties;
}

}  // namespace nevo::lin
