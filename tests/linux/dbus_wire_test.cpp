// The wire format the backend writes and reads, checked against libdbus: every call it
// writes is the same call to libdbus, every message libdbus writes reads the same here, and
// no message of any shape reads outside its bytes.
#include "platform/linux/dbus_wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dbus_reference.h"
#include "platform/linux/atspi_wire.h"

namespace nevo::lin {
namespace {

using test::LibdbusMessage;

const ObjectRef kObject{":1.42", "/org/a11y/atspi/accessible/17"};

// Every value of a libdbus argument list, printed in one line ("u:3 (i:1 i:2)").
std::string describe(DBusMessageIter& iter) {
  std::string out;
  for (int type; (type = dbus_message_iter_get_arg_type(&iter)) != DBUS_TYPE_INVALID;
       dbus_message_iter_next(&iter)) {
    if (!out.empty()) out += ' ';
    if (type == DBUS_TYPE_STRUCT || type == DBUS_TYPE_ARRAY || type == DBUS_TYPE_DICT_ENTRY ||
        type == DBUS_TYPE_VARIANT) {
      DBusMessageIter inner;
      dbus_message_iter_recurse(&iter, &inner);
      const char open = type == DBUS_TYPE_STRUCT ? '(' : type == DBUS_TYPE_ARRAY ? '[' : '{';
      const char close = type == DBUS_TYPE_STRUCT ? ')' : type == DBUS_TYPE_ARRAY ? ']' : '}';
      out += open + describe(inner) + close;
      continue;
    }
    out += static_cast<char>(type);
    out += ':';
    if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH) {
      const char* value = nullptr;
      dbus_message_iter_get_basic(&iter, &value);
      out += value;
    } else if (type == DBUS_TYPE_BOOLEAN || type == DBUS_TYPE_UINT32 || type == DBUS_TYPE_INT32) {
      dbus_uint32_t value = 0;
      dbus_message_iter_get_basic(&iter, &value);
      out += type == DBUS_TYPE_INT32 ? std::to_string(static_cast<dbus_int32_t>(value))
                                     : std::to_string(value);
    }
  }
  return out;
}

TEST(CallWriter, EveryCallIsTheSameCallToLibdbus) {
  struct Case {
    const char* what;
    Call call;
    const char* destination;
    const char* path;
    const char* interface;
    const char* member;
    const char* signature;
    std::string arguments;
  };
  const Case cases[] = {
      {"role", getRoleCall(kObject), ":1.42", "/org/a11y/atspi/accessible/17",
       "org.a11y.atspi.Accessible", "GetRole", "", ""},
      {"extents on the screen", getExtentsCall(kObject), ":1.42", "/org/a11y/atspi/accessible/17",
       "org.a11y.atspi.Component", "GetExtents", "u", "u:0"},
      {"one property", getPropertyCall(kObject, kAccessibleInterface, "AccessibleId"), ":1.42",
       "/org/a11y/atspi/accessible/17", "org.freedesktop.DBus.Properties", "Get", "ss",
       "s:org.a11y.atspi.Accessible s:AccessibleId"},
      {"interfaces", getInterfacesCall(kObject), ":1.42", "/org/a11y/atspi/accessible/17",
       "org.a11y.atspi.Accessible", "GetInterfaces", "", ""},
      {"the accessibility switch", accessibilityEnabledCall(), "org.a11y.Bus", "/org/a11y/bus",
       "org.freedesktop.DBus.Properties", "Get", "ss", "s:org.a11y.Status s:IsEnabled"},
      {"text", getTextCall(kObject, 4096), ":1.42", "/org/a11y/atspi/accessible/17",
       "org.a11y.atspi.Text", "GetText", "ii", "i:0 i:4096"},
      {"focus search (the rule with its empty arrays and their padding)",
       getMatchesCall(kObject, stateBit(State::focused) | (StateSet{1} << 33), 1, true), ":1.42",
       "/org/a11y/atspi/accessible/17", "org.a11y.atspi.Collection", "GetMatches",
       "(aiia{ss}iaiiasib)uib", "([i:4096 i:2] i:1 [] i:1 [] i:1 [] i:1 b:0) u:1 i:1 b:1"},
      {"hit test", getAccessibleAtPointCall(kObject, -5, 700), ":1.42",
       "/org/a11y/atspi/accessible/17", "org.a11y.atspi.Component", "GetAccessibleAtPoint", "iiu",
       "i:-5 i:700 u:0"},
      {"bus daemon", connectionPidCall(":1.9"), "org.freedesktop.DBus", "/org/freedesktop/DBus",
       "org.freedesktop.DBus", "GetConnectionUnixProcessID", "s", "s::1.9"},
      {"hello", helloCall(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
       "org.freedesktop.DBus", "Hello", "", ""},
      {"event listener", registerEventCall("window:activate"), "org.a11y.atspi.Registry",
       "/org/a11y/atspi/registry", "org.a11y.atspi.Registry", "RegisterEvent", "sass",
       "s:window:activate [] s:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.call);
    const LibdbusMessage message = test::demarshal(c.call.bytes);
    ASSERT_TRUE(message) << "libdbus refuses the bytes";
    EXPECT_EQ(dbus_message_get_type(message.get()), DBUS_MESSAGE_TYPE_METHOD_CALL);
    EXPECT_STREQ(dbus_message_get_destination(message.get()), c.destination);
    EXPECT_STREQ(dbus_message_get_path(message.get()), c.path);
    EXPECT_STREQ(dbus_message_get_interface(message.get()), c.interface);
    EXPECT_STREQ(dbus_message_get_member(message.get()), c.member);
    EXPECT_STREQ(dbus_message_get_signature(message.get()), c.signature);
    EXPECT_EQ(dbus_message_get_serial(message.get()), 7u);
    // Never asks the bus to start anything, and wants its reply.
    EXPECT_FALSE(dbus_message_get_auto_start(message.get()));
    EXPECT_FALSE(dbus_message_get_no_reply(message.get()));
    DBusMessageIter args;
    dbus_message_iter_init(message.get(), &args);
    EXPECT_EQ(describe(args), c.arguments);
  }
}

TEST(CallWriter, InvalidNamesAndArgumentsGiveNoCall) {
  struct Case {
    const char* what;
    Call call;
  };
  const Case cases[] = {
      {"no bus name", getRoleCall(ObjectRef{"", "/a"})},
      {"a bus name with a space", getRoleCall(ObjectRef{"not a name", "/a"})},
      {"a path without a slash", getRoleCall(ObjectRef{":1.5", "a"})},
      {"a path ending in a slash", getRoleCall(ObjectRef{":1.5", "/a/"})},
      {"a path with an empty element", getRoleCall(ObjectRef{":1.5", "/a//b"})},
      {"a path with a hyphen", getRoleCall(ObjectRef{":1.5", "/a-b"})},
      {"a string holding a NUL", CallWriter(":1.5", "/a", "org.a11y.atspi.Text", "Get")
                                     .string(std::string_view("a\0b", 3))
                                     .finish()},
      {"an array left open",
       CallWriter(":1.5", "/a", "org.a11y.atspi.Text", "Get").openArray("i").finish()},
      {"a structure closed as an array",
       CallWriter(":1.5", "/a", "org.a11y.atspi.Text", "Get").openStruct().closeArray().finish()},
      {"an interface with one element", CallWriter(":1.5", "/a", "Text", "Get").finish()},
      {"a member starting with a digit",
       CallWriter(":1.5", "/a", "org.a11y.atspi.Text", "2Get").finish()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.call);
  }
}

TEST(WireNames, BusNamesAndPathsFollowTheProtocol) {
  struct Case {
    std::string_view name;
    bool busName;
    bool path;
  };
  const Case cases[] = {
      {":1.5", true, false},
      {":1.5.7", true, false},
      {"org.a11y.atspi.Registry", true, false},
      {"org.a11y-x.Bus", true, false},
      {"org", false, false},
      {"org..a11y", false, false},
      {".org.a11y", false, false},
      {"org.2a11y", false, false},
      {"", false, false},
      {std::string_view(":1.5\0", 5), false, false},
      {"/", false, true},
      {"/org/a11y/atspi/accessible/root", false, true},
      {"/org/a11y/atspi/accessible/1_2", false, true},
      {"//", false, false},
      {"/org/", false, false},
      {"/org/a.b", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(validBusName(c.name), c.busName);
    EXPECT_EQ(validObjectPath(c.name), c.path);
  }
  EXPECT_FALSE(validBusName(std::string(256, 'a') + ".b"));
}

// Every value of a received message, read through the reader's whole interface.
std::string readAll(const ArgReader& start, int depth = 0) {
  std::string out;
  ArgReader reader = start;
  for (char type; (type = reader.type()) != kTypeInvalid;) {
    if (!out.empty()) out += ' ';
    if (type == kTypeArray || type == kTypeStruct || type == kTypeDictEntry ||
        type == kTypeVariant) {
      const std::optional<ArgReader> inner = reader.recurse(type);
      out += type == kTypeArray ? "[" : type == kTypeVariant ? "<" : "(";
      if (inner && depth < 80) out += readAll(*inner, depth + 1);
      out += type == kTypeArray ? "]" : type == kTypeVariant ? ">" : ")";
    } else if (const std::optional<std::string_view> text = reader.string()) {
      out += std::string(1, type) + ":" + std::string(*text);
    } else if (const std::optional<std::uint32_t> u = reader.uint32()) {
      out += "u:" + std::to_string(*u);
    } else if (const std::optional<std::int32_t> i = reader.int32()) {
      out += "i:" + std::to_string(*i);
    } else if (const std::optional<bool> b = reader.boolean()) {
      out += *b ? "b:1" : "b:0";
    } else if (const std::optional<double> d = reader.float64()) {
      out += "d:" + std::to_string(*d);
    } else if (const std::optional<std::uint8_t> y = reader.byte()) {
      out += "y:" + std::to_string(*y);
    } else if (const std::optional<std::string_view> g = reader.signature()) {
      out += "g:" + std::string(*g);
    } else {
      out += std::string(1, type) + ":?";
    }
    if (!reader.next()) break;
  }
  if (!reader.valid()) out += " !";
  return out;
}

// A reply holding a little of everything AT-SPI answers with: the accessible properties
// (a dictionary of variants), a list of references, a state set, extents and a double.
LibdbusMessage richReply() {
  LibdbusMessage reply = test::methodReturn(41);
  DBusMessageIter args, dict, entry, value, array, box;
  dbus_message_iter_init_append(reply.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
  const auto put = [&](const char* key, int type, const char* signature, const void* v) {
    dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &value);
    dbus_message_iter_append_basic(&value, type, v);
    dbus_message_iter_close_container(&entry, &value);
    dbus_message_iter_close_container(&dict, &entry);
  };
  const char* name = "Caf\xC3\xA9";
  const dbus_int32_t count = 3;
  const double level = 0.25;
  put("Name", DBUS_TYPE_STRING, "s", &name);
  put("ChildCount", DBUS_TYPE_INT32, "i", &count);
  put("Level", DBUS_TYPE_DOUBLE, "d", &level);
  dbus_message_iter_close_container(&args, &dict);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "(so)", &array);
  test::appendReference(array, ":1.5", "/org/a11y/atspi/accessible/1");
  test::appendReference(array, "", "/org/a11y/atspi/null");
  dbus_message_iter_close_container(&args, &array);
  const dbus_uint32_t words[] = {1u << 25, 0};
  const dbus_uint32_t* p = words;
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "u", &array);
  dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_UINT32, &p, 2);
  dbus_message_iter_close_container(&args, &array);
  dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &box);
  for (dbus_int32_t v : {10, -20, 300, 40})
    dbus_message_iter_append_basic(&box, DBUS_TYPE_INT32, &v);
  dbus_message_iter_close_container(&args, &box);
  const dbus_bool_t yes = TRUE;
  const unsigned char byte = 200;
  dbus_message_append_args(reply.get(), DBUS_TYPE_BOOLEAN, &yes, DBUS_TYPE_BYTE, &byte,
                           DBUS_TYPE_INVALID);
  return reply;
}

constexpr std::string_view kRichReply =
    "[(s:Name <s:Caf\xC3\xA9>) (s:ChildCount <i:3>) (s:Level <d:0.250000>)] "
    "[(s::1.5 o:/org/a11y/atspi/accessible/1) (s: o:/org/a11y/atspi/null)] [u:33554432 u:0] "
    "(i:10 i:-20 i:300 i:40) b:1 y:200";

TEST(ReceivedMessage, WhatLibdbusWritesReadsTheSame) {
  const LibdbusMessage reply = richReply();
  const std::optional<test::Received> received = test::received(*reply);
  ASSERT_TRUE(received);
  const ReceivedMessage message = received->message();
  EXPECT_EQ(message.type, kMessageMethodReturn);
  EXPECT_EQ(message.replySerial, 41u);
  EXPECT_EQ(message.signature, "a{sv}a(so)au(iiii)by");
  EXPECT_EQ(readAll(ArgReader(message)), kRichReply);

  const LibdbusMessage error = test::errorReply(9);
  const std::optional<test::Received> failed = test::received(*error);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->message().type, kMessageError);
  EXPECT_EQ(failed->message().replySerial, 9u);
  const LibdbusMessage signal = test::signalMessage();
  const std::optional<test::Received> event = test::received(*signal);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->message().type, kMessageSignal);
  EXPECT_EQ(event->message().replySerial, 0u);
}

// A method return built by hand in the byte order `order` ('l' little-endian, 'B'
// big-endian, as a big-endian machine writes it) answering `replySerial`, with the given
// signature and body.
std::string handBuiltReturn(char order, std::uint32_t replySerial, std::string_view signature,
                            std::string_view body) {
  const auto put32 = [order](std::string& into, std::uint32_t v) {
    for (int byte = 0; byte < 4; ++byte) {
      const int shift = order == 'B' ? 24 - 8 * byte : 8 * byte;
      into += static_cast<char>((v >> shift) & 0xff);
    }
  };
  std::string out = {order, 2, 0, 1};
  put32(out, static_cast<std::uint32_t>(body.size()));
  put32(out, 3);  // its own serial
  std::string fields = {5, 1, 'u', 0};
  put32(fields, replySerial);
  fields += std::string{8, 1, 'g', 0};
  fields += static_cast<char>(signature.size());
  fields += signature;
  fields += '\0';
  put32(out, static_cast<std::uint32_t>(fields.size()));
  out += fields;
  out.resize((out.size() + 7) / 8 * 8, '\0');
  out += body;
  return out;
}

TEST(ReceivedMessage, BigEndianMessagesReadTheSame) {
  const std::string extents = handBuiltReturn(
      'B', 5, "(iiii)", std::string("\0\0\0\x0a\xff\xff\xff\xec\0\0\x01\x2c\0\0\0\x28", 16));
  const std::optional<ReceivedMessage> message = parseMessage(extents);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->replySerial, 5u);
  EXPECT_EQ(readAll(ArgReader(*message)), "(i:10 i:-20 i:300 i:40)");
  EXPECT_EQ(extentsReply(*message), (Extents{10, -20, 300, 40}));

  const std::string text =
      handBuiltReturn('B', 5, "sd", std::string("\0\0\0\x02hi\0\0\x3f\xd0\0\0\0\0\0\0", 16));
  const std::optional<ReceivedMessage> second = parseMessage(text);
  ASSERT_TRUE(second);
  EXPECT_EQ(readAll(ArgReader(*second)), "s:hi d:0.250000");
}

TEST(ReceivedMessage, HeaderFieldsOfAnyShapeAreRead) {
  // A little-endian method return answering serial 9 with the signature "u" and the value
  // 5, whose header holds `extra` (one field, code and variant) before the usual fields.
  const auto build = [](const std::string& extra) {
    std::string fields = extra;
    fields.resize((fields.size() + 7) / 8 * 8, '\0');
    fields += std::string{5, 1, 'u', 0, 9, 0, 0, 0};
    fields += std::string{8, 1, 'g', 0, 1, 'u', 0};
    std::string out = {'l', 2, 0, 1, 4, 0, 0, 0, 3, 0, 0, 0};
    out += static_cast<char>(fields.size());
    out += std::string(3, '\0');
    out += fields;
    out.resize((out.size() + 7) / 8 * 8, '\0');
    return out + std::string{5, 0, 0, 0};
  };
  struct Case {
    const char* what;
    std::string extra;
    bool read;
  };
  const Case cases[] = {
      {"a sender name", std::string{7, 1, 's', 0, 5, 0, 0, 0} + ":1.42" + '\0', true},
      {"a field of a code the protocol does not have, holding an array",
       std::string{99, 2, 'a', 'u', 0, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, true},
      {"a field holding a structure", std::string{98, 4, '(', 'y', 'y', ')', 0, 0, 1, 2}, true},
      {"a reply serial that is a string", std::string{5, 1, 's', 0, 1, 0, 0, 0, 'x', 0}, false},
      {"a string that runs past the fields", std::string{7, 1, 's', 0, 90, 0, 0, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = build(c.extra);
    const std::optional<ReceivedMessage> message = parseMessage(bytes);
    ASSERT_EQ(message.has_value(), c.read);
    // libdbus, the reference, takes and refuses the same.
    EXPECT_EQ(test::demarshal(bytes, 3) != nullptr, c.read);
    if (!message) continue;
    EXPECT_EQ(message->replySerial, 9u);
    EXPECT_EQ(message->signature, "u");
    EXPECT_EQ(uint32Reply(*message), 5u);
  }
}

TEST(ReceivedMessage, NothingOutsideTheMessageIsEverRead) {
  const LibdbusMessage reply = richReply();
  const std::string good = test::marshal(*reply);
  ASSERT_TRUE(parseMessage(good));

  // Every cut: incomplete, never read past its end.
  for (std::size_t length = 0; length < good.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string_view cut(good.data(), length);
    const std::optional<std::size_t> needed = messageLength(cut);
    ASSERT_TRUE(needed);
    EXPECT_TRUE(*needed == 0 || *needed > length);
    EXPECT_FALSE(parseMessage(cut));
  }

  // Every byte changed, one at a time: the message is refused, or reads without leaving its
  // bytes (the sanitizers' build catches a read outside them).
  std::mt19937 random(1234);
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (const unsigned value : {0x00u, 0xffu, 0x80u, static_cast<unsigned>(random() & 0xff)}) {
      std::string bad = good;
      bad[at] = static_cast<char>(value);
      const std::optional<std::size_t> length = messageLength(bad);
      if (!length || *length != bad.size()) continue;
      if (const std::optional<ReceivedMessage> message = parseMessage(bad)) {
        readAll(ArgReader(*message));
        stringsReply(*message, 10);
        referencesReply(*message, 10);
      }
    }
  }
}

TEST(ReceivedMessage, MalformedShapesReadAsAbsent) {
  struct Case {
    const char* what;
    std::string signature;
    std::string body;
    std::string reads;
  };
  const Case cases[] = {
      {"a string whose length runs past the body", "s", std::string("\x10\0\0\0ab\0", 7), "s:? !"},
      {"a string without its closing NUL", "s", std::string("\x02\0\0\0abc", 7), "s:? !"},
      {"a string holding a NUL", "s", std::string("\x03\0\0\0a\0b\0", 8), "s:?"},
      {"an array longer than the body", "au", std::string("\x40\0\0\0\1\0\0\0", 8), "[] !"},
      {"a variant of no whole type", "v",
       std::string("\x02"
                   "a(\0",
                   4),
       "<> !"},
      {"a variant of two types", "v", std::string("\x02ii\0\0\0\0\0\1\0\0\0\2\0\0\0", 16), "<> !"},
      {"a boolean that is neither 0 nor 1", "b", std::string("\x02\0\0\0", 4), "b:?"},
      {"variants nested past the protocol's depth", "v",
       [] {
         std::string body;
         for (int i = 0; i < 100; ++i) body += std::string("\x01v\0", 3);
         return body + std::string("\x01u\0\0\x07\0\0\0", 8);
       }(),
       // Cut off past 64 levels: the 65th reads as nothing, every level around it ends
       // invalid, and the value inside is never reached.
       [] {
         std::string reads(65, '<');
         for (int i = 0; i < 65; ++i) reads += " !>";
         return reads + " !";
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = handBuiltReturn('l', 1, c.signature, c.body);
    const std::optional<ReceivedMessage> message = parseMessage(bytes);
    ASSERT_TRUE(message);
    const std::string read = readAll(ArgReader(*message));
    EXPECT_EQ(read, c.reads);
    EXPECT_FALSE(stringReply(*message));
    EXPECT_FALSE(stateReply(*message));
  }
}

}  // namespace
}  // namespace nevo::lin

namespace nevo::lin {
namespace {

// `depth` structures around one byte: "((…y…))".
std::string nestedStructures(int depth) {
  return std::string(static_cast<std::size_t>(depth), '(') + "y" +
         std::string(static_cast<std::size_t>(depth), ')');
}

// Reading costs what the bytes do, however deep their values nest: the reader's own count
// of what it looked at stays within a few steps per byte for the shapes that cost a
// quadratic walk before (the deepest nesting the bus relays, in dictionary entries read one
// by one as the reply readers do, and in unknown header fields passed over). A reading that
// descends into every level (as readAll does) passes over each value once per level it
// descends, which the nesting limit bounds.
TEST(ReceivedMessage, ReadingCostsWhatTheBytesDoAtAnyDepth) {
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t entries;  // read one by one: all of them
  };
  std::vector<Case> cases;
  {
    // a{y(((…y…)))}: entries of 16 bytes, 30 structures deep, read with every getter.
    constexpr std::size_t kEntries = 4096;
    std::string body(8, '\0');
    for (std::size_t i = 0; i < kEntries; ++i) {
      std::string entry = {static_cast<char>(i), 0, 0, 0, 0, 0, 0, 0, 'y'};
      if (i + 1 < kEntries) entry.resize(16, '\0');
      body += entry;
    }
    const auto length = static_cast<std::uint32_t>(body.size() - 8);
    std::memcpy(body.data(), &length, 4);
    cases.push_back({"dictionary entries 30 structures deep",
                     handBuiltReturn('l', 1, "a{y" + nestedStructures(30) + "}", body),
                     kEntries});
  }
  {
    // A signal whose header holds thousands of fields of a code no one defines, each a
    // variant 31 structures deep.
    std::string fields;
    const std::string type = nestedStructures(31);
    for (int i = 0; i < 4000; ++i) {
      fields.resize((fields.size() + 7) / 8 * 8, '\0');
      fields += std::string{static_cast<char>(100), static_cast<char>(type.size())} + type + '\0';
      fields.resize((fields.size() + 7) / 8 * 8, '\0');
      fields += 'z';
    }
    std::string out = {'l', 4, 0, 1, 0, 0, 0, 0, 9, 0, 0, 0};
    const auto size = static_cast<std::uint32_t>(fields.size());
    out.append(reinterpret_cast<const char*>(&size), 4);
    out += fields;
    out.resize((out.size() + 7) / 8 * 8, '\0');
    cases.push_back({"header fields holding deep variants", out, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint64_t before = readerSteps();
    const std::optional<ReceivedMessage> message = parseMessage(c.bytes);
    ASSERT_TRUE(message);
    std::size_t entries = 0;
    if (std::optional<ArgReader> items = ArgReader(*message).recurse(kTypeArray)) {
      while (std::optional<ArgReader> entry = items->recurse(kTypeDictEntry)) {
        ++entries;
        EXPECT_TRUE(entry->byte());
        entry->next();
        EXPECT_TRUE(entry->recurse(kTypeStruct));
        if (!items->next()) break;
      }
    }
    EXPECT_EQ(entries, c.entries);
    (void)stringsReply(*message, 1024);
    (void)referencesReply(*message, 1024);
    const std::uint64_t steps = readerSteps() - before;
    EXPECT_LE(steps, 8 * c.bytes.size()) << steps << " steps for " << c.bytes.size() << " bytes";
    const std::uint64_t descending = readerSteps();
    (void)readAll(ArgReader(*message));
    EXPECT_LE(readerSteps() - descending, 8 * 64 * c.bytes.size());
  }
}

// Strings are handed out up to the reader's limit, cut before a whole character; an object
// path longer than any object's reads as absent rather than as another object's.
TEST(ReceivedMessage, LongStringsAreCutAndLongPathsRefused) {
  std::string longName;
  while (longName.size() < 3 * kStringLimit) longName += "\xe4\xb8\xad";  // 中
  const auto withString = [](const std::string& signature, const std::string& text) {
    std::string body(4, '\0');
    const auto size = static_cast<std::uint32_t>(text.size());
    std::memcpy(body.data(), &size, 4);
    return handBuiltReturn('l', 1, signature, body + text + '\0');
  };
  const std::string name = withString("s", longName);
  const std::optional<std::string> read = stringReply(*parseMessage(name));
  ASSERT_TRUE(read);
  EXPECT_LE(read->size(), kStringLimit);
  EXPECT_GT(read->size(), kStringLimit - 4);
  EXPECT_EQ(read->size() % 3, 0u) << "a character was split";
  EXPECT_EQ(*read, longName.substr(0, read->size()));

  const std::string path = "/" + std::string(kPathLimit, 'a');
  const std::string bus = ":1.5";
  std::string body(4, '\0');
  const auto busSize = static_cast<std::uint32_t>(bus.size());
  std::memcpy(body.data(), &busSize, 4);
  body += bus + '\0';
  body.resize((body.size() + 3) / 4 * 4, '\0');
  const auto pathSize = static_cast<std::uint32_t>(path.size());
  body.append(reinterpret_cast<const char*>(&pathSize), 4);
  body += path + '\0';
  const std::string reference = handBuiltReturn('l', 1, "(so)", body);
  EXPECT_FALSE(referenceReply(*parseMessage(reference)));
  EXPECT_TRUE(parseMessage(reference)) << "the message itself is sound";
}

}  // namespace
}  // namespace nevo::lin
