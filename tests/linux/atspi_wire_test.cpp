// The shapes of replies: what an application sends is read only when it has the expected
// shape; anything else reads as absent rather than tripping libdbus's own checks.
#include "platform/linux/atspi_wire.h"

#include <gtest/gtest.h>

namespace nevo::lin {
namespace {

// An empty method return to append a reply's arguments to.
Message emptyReply() {
  Message call = methodCall(":1.5", "/a", "org.a11y.atspi.Accessible", "GetRole");
  dbus_message_set_serial(call.get(), 1);
  return Message(dbus_message_new_method_return(call.get()));
}

void appendReference(DBusMessageIter& into, const char* bus, const char* path) {
  DBusMessageIter item;
  dbus_message_iter_open_container(&into, DBUS_TYPE_STRUCT, nullptr, &item);
  dbus_message_iter_append_basic(&item, DBUS_TYPE_STRING, &bus);
  dbus_message_iter_append_basic(&item, DBUS_TYPE_OBJECT_PATH, &path);
  dbus_message_iter_close_container(&into, &item);
}

TEST(AtspiWire, ExtentsAreFourIntegersInAStructure) {
  Message reply = emptyReply();
  DBusMessageIter args, box;
  dbus_message_iter_init_append(reply.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &box);
  for (dbus_int32_t v : {10, -20, 300, 40})
    dbus_message_iter_append_basic(&box, DBUS_TYPE_INT32, &v);
  dbus_message_iter_close_container(&args, &box);
  EXPECT_EQ(extentsReply(*reply), (Extents{10, -20, 300, 40}));

  // Three integers, or a bare integer, are not extents.
  Message shortBox = emptyReply();
  dbus_message_iter_init_append(shortBox.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &box);
  for (dbus_int32_t v : {1, 2, 3}) dbus_message_iter_append_basic(&box, DBUS_TYPE_INT32, &v);
  dbus_message_iter_close_container(&args, &box);
  EXPECT_FALSE(extentsReply(*shortBox));
  Message bare = emptyReply();
  dbus_int32_t one = 1;
  dbus_message_append_args(bare.get(), DBUS_TYPE_INT32, &one, DBUS_TYPE_INVALID);
  EXPECT_FALSE(extentsReply(*bare));
}

TEST(AtspiWire, StatesAreTwoWordsOfOneSet) {
  Message reply = emptyReply();
  const dbus_uint32_t words[] = {(1u << 8) | (1u << 25), 1u << (41 - 32)};
  const dbus_uint32_t* p = words;
  dbus_message_append_args(reply.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_UINT32, &p, 2,
                           DBUS_TYPE_INVALID);
  const std::optional<StateSet> states = stateReply(*reply);
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

  const std::optional<std::vector<ObjectRef>> all = referencesReply(*reply, 10);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[0], (ObjectRef{":1.5", "/org/a11y/atspi/accessible/1"}));
  EXPECT_TRUE((*all)[1].null());
  const std::optional<std::vector<ObjectRef>> two = referencesReply(*reply, 2);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->size(), 2u);

  Message empty = emptyReply();
  dbus_message_iter_init_append(empty.get(), &args);
  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "(so)", &array);
  dbus_message_iter_close_container(&args, &array);
  EXPECT_EQ(referencesReply(*empty, 10), std::vector<ObjectRef>{});
}

TEST(AtspiWire, AccessiblePropertiesComeFromOneDictionary) {
  Message reply = emptyReply();
  DBusMessageIter args, dict, entry, value;
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
  const char* name = "Save";
  const char* description = "Saves the file";
  const char* id = "save-button";
  const char* locale = "C";
  const dbus_int32_t count = 2;
  put("Name", DBUS_TYPE_STRING, "s", &name);
  put("Locale", DBUS_TYPE_STRING, "s", &locale);
  put("Description", DBUS_TYPE_STRING, "s", &description);
  put("ChildCount", DBUS_TYPE_INT32, "i", &count);
  put("AccessibleId", DBUS_TYPE_STRING, "s", &id);
  dbus_message_iter_close_container(&args, &dict);

  const std::optional<AccessibleProperties> properties = accessiblePropertiesReply(*reply);
  ASSERT_TRUE(properties);
  EXPECT_EQ(properties->name, "Save");
  EXPECT_EQ(properties->description, "Saves the file");
  EXPECT_EQ(properties->accessibleId, "save-button");
  EXPECT_EQ(properties->childCount, 2);
}

TEST(AtspiWire, ErrorsAndOtherShapesReadAsAbsent) {
  Message call = methodCall(":1.5", "/a", "org.a11y.atspi.Accessible", "GetRole");
  dbus_message_set_serial(call.get(), 1);
  Message error(dbus_message_new_error(call.get(), "org.freedesktop.DBus.Error.Failed", "x"));
  EXPECT_FALSE(uint32Reply(*error));
  EXPECT_FALSE(stringReply(*error));
  EXPECT_FALSE(stateReply(*error));
  EXPECT_FALSE(referencesReply(*error, 5));
  EXPECT_FALSE(accessiblePropertiesReply(*error));

  // A string where a number is expected, and no arguments at all.
  Message text = emptyReply();
  const char* s = "43";
  dbus_message_append_args(text.get(), DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID);
  EXPECT_FALSE(uint32Reply(*text));
  EXPECT_FALSE(variantStringReply(*text));
  Message nothing = emptyReply();
  EXPECT_FALSE(uint32Reply(*nothing));
  EXPECT_FALSE(extentsReply(*nothing));
  EXPECT_FALSE(accessiblePropertiesReply(*nothing));
}

TEST(AtspiWire, TheFocusSearchCarriesTheRuleTheProtocolDefines) {
  Message call =
      getMatchesCall(ObjectRef{":1.5", std::string(kRootPath)}, stateBit(State::focused), 1, true);
  ASSERT_TRUE(call);
  EXPECT_STREQ(dbus_message_get_signature(call.get()), "(aiia{ss}iaiiasib)uib");
  EXPECT_FALSE(dbus_message_get_auto_start(call.get()));
}

}  // namespace
}  // namespace nevo::lin
