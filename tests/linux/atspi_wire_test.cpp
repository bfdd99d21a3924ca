// The shapes of replies: what an application sends is read only when it has the expected
// shape; anything else reads as absent rather than tripping libdbus's own checks.
#include "platform/linux/atspi_wire.h"

#include <gtest/gtest.h>

#include "dbus_reference.h"

namespace nevo::lin {
namespace {

using test::appendExtents;

using test::appendReference;
using test::appendStates;
using Message = test::LibdbusMessage;

// An empty method return to append a reply's arguments to.
Message emptyReply() {
  return test::methodReturn();
}

// The reply's bytes, to be read as the backend reads them (message()).
test::Received read(const Message& reply) {
  return test::Received{test::marshal(*reply)};
}

TEST(AtspiWire, ExtentsAreFourIntegersInAStructure) {
  Message reply = emptyReply();
  DBusMessageIter args;
  dbus_message_iter_init_append(reply.get(), &args);
  appendExtents(args, {10, -20, 300, 40});
  EXPECT_EQ(extentsReply(read(reply).message()), (Extents{10, -20, 300, 40}));

  // Three integers, or a bare integer, are not extents.
  Message shortBox = emptyReply();
  dbus_message_iter_init_append(shortBox.get(), &args);
  appendExtents(args, {1, 2, 3});
  EXPECT_FALSE(extentsReply(read(shortBox).message()));
  Message bare = emptyReply();
  dbus_int32_t one = 1;
  dbus_message_append_args(bare.get(), DBUS_TYPE_INT32, &one, DBUS_TYPE_INVALID);
  EXPECT_FALSE(extentsReply(read(bare).message()));
}

TEST(AtspiWire, StatesAreTwoWordsOfOneSet) {
  Message reply = emptyReply();
  DBusMessageIter args;
  dbus_message_iter_init_append(reply.get(), &args);
  appendStates(args, (1u << 8) | (1u << 25), 1u << (41 - 32));
  const std::optional<StateSet> states = stateReply(read(reply).message());
  ASSERT_TRUE(states);
  EXPECT_TRUE(hasState(*states, State::enabled));
  EXPECT_TRUE(hasState(*states, State::showing));
  EXPECT_TRUE((*states >> 41) & 1);
  EXPECT_FALSE(hasState(*states, State::focused));
}

TEST(AtspiWire, ReferencesAreTakenUpToTheLimit) {
  Message reply = emptyReply();
  DBusMessageIter args, array;
  dbus_message_iter_init_append(reply.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "(so)", &array);
  appendReference(array, ":1.5", "/org/a11y/atspi/accessible/1");
  appendReference(array, "", "/org/a11y/atspi/null");
  appendReference(array, ":1.5", "/org/a11y/atspi/accessible/3");
  dbus_message_iter_close_container(&args, &array);

  const std::optional<std::vector<ObjectRef>> all = referencesReply(read(reply).message(), 10);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[0], (ObjectRef{":1.5", "/org/a11y/atspi/accessible/1"}));
  EXPECT_TRUE((*all)[1].null());
  const std::optional<std::vector<ObjectRef>> two = referencesReply(read(reply).message(), 2);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->size(), 2u);

  Message empty = emptyReply();
  dbus_message_iter_init_append(empty.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "(so)", &array);
  dbus_message_iter_close_container(&args, &array);
  EXPECT_EQ(referencesReply(read(empty).message(), 10), std::vector<ObjectRef>{});
}

TEST(AtspiWire, InterfaceListsAndTheSwitchRead) {
  Message interfaces = emptyReply();
  DBusMessageIter args, array;
  dbus_message_iter_init_append(interfaces.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &array);
  for (const char* name : {"org.a11y.atspi.Accessible", "org.a11y.atspi.Collection"}) {
    dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &name);
  }
  dbus_message_iter_close_container(&args, &array);
  EXPECT_EQ(stringsReply(read(interfaces).message(), 10),
            (std::vector<std::string>{"org.a11y.atspi.Accessible", "org.a11y.atspi.Collection"}));
  EXPECT_EQ(stringsReply(read(interfaces).message(), 1),
            std::vector<std::string>{"org.a11y.atspi.Accessible"});

  for (const dbus_bool_t on : {TRUE, FALSE}) {
    Message enabled = emptyReply();
    dbus_message_iter_init_append(enabled.get(), &args);
    test::appendVariant(args, DBUS_TYPE_BOOLEAN, "b", &on);
    EXPECT_EQ(variantBooleanReply(read(enabled).message()), on == TRUE);
  }
}

TEST(AtspiWire, ErrorsAndOtherShapesReadAsAbsent) {
  Message error = test::errorReply();
  EXPECT_FALSE(uint32Reply(read(error).message()));
  EXPECT_FALSE(stringReply(read(error).message()));
  EXPECT_FALSE(stateReply(read(error).message()));
  EXPECT_FALSE(referencesReply(read(error).message(), 5));
  EXPECT_FALSE(stringsReply(read(error).message(), 5));
  EXPECT_FALSE(variantBooleanReply(read(error).message()));

  // A string where a number is expected, and no arguments at all.
  Message text = emptyReply();
  const char* s = "43";
  dbus_message_append_args(text.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID);
  EXPECT_FALSE(uint32Reply(read(text).message()));
  EXPECT_FALSE(variantStringReply(read(text).message()));
  Message nothing = emptyReply();
  EXPECT_FALSE(uint32Reply(read(nothing).message()));
  EXPECT_FALSE(extentsReply(read(nothing).message()));
  EXPECT_FALSE(variantBooleanReply(read(nothing).message()));
  EXPECT_FALSE(stringsReply(read(text).message(), 5));
}

}  // namespace
}  // namespace nevo::lin
