// libdbus, the reference implementation of D-Bus, as the tests use it: to build the
// messages an application would send, and to read the calls the backend writes.
#pragma once

#include <dbus/dbus.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/dbus_wire.h"

namespace nevo::lin::test {

struct LibdbusMessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using LibdbusMessage = std::unique_ptr<DBusMessage, LibdbusMessageUnref>;

// A method return answering the call with serial `replyTo`, with no arguments yet.
LibdbusMessage methodReturn(std::uint32_t replyTo = 1);
// An error answering the call with serial `replyTo`.
LibdbusMessage errorReply(std::uint32_t replyTo = 1);
// A signal, which answers no call.
LibdbusMessage signalMessage();
// The message's bytes as libdbus sends them (its serial set when it has none yet).
std::string marshal(DBusMessage& message, std::uint32_t serial = 0);
// The backend's call as libdbus reads it (serial `serial` written in), or null when libdbus
// refuses the bytes.
LibdbusMessage demarshal(const std::string& bytes, std::uint32_t serial = 7);

// A received message together with the bytes it is read from.
struct Received {
  std::string bytes;
  // The message read from the bytes (views into them).
  ReceivedMessage message() const { return parseMessage(bytes).value_or(ReceivedMessage{}); }
};
// libdbus's message as the backend reads it; absent when the backend refuses its bytes.
std::optional<Received> received(DBusMessage& message);

// Appends a (bus name, object path) structure.
void appendReference(DBusMessageIter& into, const char* bus, const char* path);
// Appends a variant holding one basic value of libdbus type `type` (its signature
// `signature`, "s" for a string); `value` points at the value as libdbus takes it.
void appendVariant(DBusMessageIter& into, int type, const char* signature, const void* value);
// Appends one {key: variant} entry to an "a{sv}" property dictionary.
void appendProperty(DBusMessageIter& dictionary, const char* key, int type, const char* signature,
                    const void* value);
// Appends a structure of 32-bit integers; four of them (x, y, width, height) are extents.
void appendExtents(DBusMessageIter& into, std::initializer_list<dbus_int32_t> values);
// Appends a state set as AT-SPI sends it: an array of two words, states 0-31 first.
void appendStates(DBusMessageIter& into, dbus_uint32_t low, dbus_uint32_t high);

}  // namespace nevo::lin::test
