#include "dbus_reference.h"

#include <cstring>

namespace nevo::lin::test {
namespace {

LibdbusMessage callWithSerial(std::uint32_t serial) {
  LibdbusMessage call(dbus_message_new_method_call(":1.5", "/org/a11y/atspi/accessible/1",
                                                   "org.a11y.atspi.Accessible", "GetRole"));
  dbus_message_set_serial(call.get(), serial);
  return call;
}

}  // namespace

LibdbusMessage methodReturn(std::uint32_t replyTo) {
  return LibdbusMessage(dbus_message_new_method_return(callWithSerial(replyTo).get()));
}

LibdbusMessage errorReply(std::uint32_t replyTo) {
  return LibdbusMessage(dbus_message_new_error(callWithSerial(replyTo).get(),
                                               "org.freedesktop.DBus.Error.UnknownMethod", "no"));
}

LibdbusMessage signalMessage() {
  return LibdbusMessage(dbus_message_new_signal("/org/a11y/atspi/accessible/1",
                                                "org.a11y.atspi.Event.Object", "StateChanged"));
}

std::string marshal(DBusMessage& message, std::uint32_t serial) {
  if (dbus_message_get_serial(&message) == 0) {
    dbus_message_set_serial(&message, serial != 0 ? serial : 1000);
  }
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(&message, &bytes, &length)) return {};
  std::string out(bytes, static_cast<std::size_t>(length));
  dbus_free(bytes);
  return out;
}

LibdbusMessage demarshal(const std::string& bytes, std::uint32_t serial) {
  std::string copy = bytes;
  if (copy.size() >= 12) std::memcpy(copy.data() + 8, &serial, sizeof serial);
  DBusError error;
  dbus_error_init(&error);
  LibdbusMessage message(
      dbus_message_demarshal(copy.data(), static_cast<int>(copy.size()), &error));
  dbus_error_free(&error);
  return message;
}

std::optional<Received> received(DBusMessage& message) {
  Received out{marshal(message)};
  if (!parseMessage(out.bytes)) return std::nullopt;
  return out;
}

void appendReference(DBusMessageIter& into, const char* bus, const char* path) {
  DBusMessageIter item;
  dbus_message_iter_open_container(&into, DBUS_TYPE_STRUCT, nullptr, &item);
  dbus_message_iter_append_basic(&item, DBUS_TYPE_STRING, &bus);
  dbus_message_iter_append_basic(&item, DBUS_TYPE_OBJECT_PATH, &path);
  dbus_message_iter_close_container(&into, &item);
}

void appendVariant(DBusMessageIter& into, int type, const char* signature, const void* value) {
  DBusMessageIter variant;
  dbus_message_iter_open_container(&into, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&into, &variant);
}

void appendProperty(DBusMessageIter& dictionary, const char* key, int type, const char* signature,
                    const void* value) {
  DBusMessageIter entry;
  dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  appendVariant(entry, type, signature, value);
  dbus_message_iter_close_container(&dictionary, &entry);
}

void appendExtents(DBusMessageIter& into, std::initializer_list<dbus_int32_t> values) {
  DBusMessageIter box;
  dbus_message_iter_open_container(&into, DBUS_TYPE_STRUCT, nullptr, &box);
  for (const dbus_int32_t v : values) dbus_message_iter_append_basic(&box, DBUS_TYPE_INT32, &v);
  dbus_message_iter_close_container(&into, &box);
}

void appendStates(DBusMessageIter& into, dbus_uint32_t low, dbus_uint32_t high) {
  const dbus_uint32_t words[] = {low, high};
  const dbus_uint32_t* p = words;
  DBusMessageIter array;
  dbus_message_iter_open_container(&into, DBUS_TYPE_ARRAY, "u", &array);
  dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_UINT32, &p, 2);
  dbus_message_iter_close_container(&into, &array);
}

}  // namespace nevo::lin::test
