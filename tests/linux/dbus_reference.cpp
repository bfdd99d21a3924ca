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

}  // namespace nevo::lin::test
