// The reply check itself: every reply sentence of the code matches its schema, and the
// replies the tool must never give are caught, by the schema or by the line checks.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "focus/activation.h"
#include "focus/focus_request.h"
#include "focus/resolve_target.h"
#include "observe/observation.h"
#include "reply/reply.h"
#include "reply_schemas.h"

namespace nevo::test {
namespace {

Reply rectangle(double x, double y, double width, double height) {
  return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

Reply record() {
  return {{"id", "812:w.0.3"},  {"role", "button"},
          {"name", "OK"},       {"identifier", ""},
          {"value", ""},        {"hasValue", false},
          {"enabled", true},    {"focused", false},
          {"protected", false}, {"bounds", rectangle(10, 20, 80, 30)},
          {"hittable", true}};
}

Reply observation(Reply elements) {
  return {{"status", "available"},
          {"app", {{"pid", 812}, {"name", "Notes"}, {"bundleId", "com.example.notes"}}},
          {"window", {{"title", "Untitled"}, {"bounds", rectangle(0, 0, 800, 600)}}},
          {"elements", std::move(elements)},
          {"truncated", false}};
}

Reply entry() {
  return {{"id", "812:0"},
          {"pid", 812},
          {"appName", "Notes"},
          {"title", "Untitled"},
          {"bounds", rectangle(0, 0, 800, 600)},
          {"isMinimized", false},
          {"isFrontmost", true}};
}

Reply listing(Reply windows) {
  return {{"status", "available"}, {"windows", std::move(windows)}, {"truncated", false}};
}

Reply withElements(Reply reply) {
  reply["elements"] = Reply::array();
  return reply;
}

TEST(ReplySchemas, AcceptEveryReplyTheCodeCanGive) {
  struct Case {
    const char* name;
    Reply reply;
    ReplyKind kind;
  };
  Reply focusedRecord = record();
  focusedRecord["id"] = "812:focus";
  focusedRecord["focused"] = true;
  Reply secret = record();
  secret.update({{"role", "textbox"}, {"name", ""}, {"protected", true}, {"hittable", false}});
  Reply windowsDenied = permissionDeniedReply();
  windowsDenied["windows"] = Reply::array();
  std::vector<Case> cases = {
      {"observation", observation(Reply::array({record(), focusedRecord, secret})),
       ReplyKind::observation},
      {"observation denied", withElements(permissionDeniedReply()), ReplyKind::observation},
      {"window list", listing(Reply::array({entry()})), ReplyKind::windows},
      {"window list denied", windowsDenied, ReplyKind::windows},
      {"focused", {{"status", "focused"}}, ReplyKind::focus},
      {"focus denied", permissionDeniedReply(), ReplyKind::focus},
      {"unsupported", unavailableReply(kReasonUnsupportedCommand), ReplyKind::unsupported},
  };
  for (std::string_view reason : {kReasonNoFrontmostApplication, kReasonNoWindowInformation,
                                  kReasonFrontWindowChanged, kReasonInputFocusChanged}) {
    cases.push_back(
        {"observation failure", withElements(unavailableReply(reason)), ReplyKind::observation});
  }
  for (std::string_view reason :
       {kReasonInvalidEntry, kReasonApplicationChanged, kReasonWindowChanged,
        kReasonIncompleteCheck, kReasonAmbiguousWindow, kReasonStateChanged, kReasonRestoreRefused,
        kReasonSwitchFailed, kReasonFocusUnconfirmed}) {
    cases.push_back({"focus failure", unavailableReply(reason), ReplyKind::focus});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.reply.dump());
    EXPECT_EQ(replyProblem(c.reply, c.kind), "");
    EXPECT_EQ(presumedKind(c.reply), c.kind);
  }
}

TEST(ReplySchemas, CatchRepliesTheToolMustNeverGive) {
  struct Case {
    const char* name;
    Reply reply;
    ReplyKind kind;
  };
  const auto observationWith = [](auto change) {
    Reply r = record();
    change(r);
    return observation(Reply::array({r}));
  };
  Reply tooMany = Reply::array();
  for (int i = 0; i < 161; ++i) tooMany.push_back(record());
  Reply tooManyEntries = Reply::array();
  for (int i = 0; i < 81; ++i) tooManyEntries.push_back(entry());
  Reply entryWithIndex80 = entry();
  entryWithIndex80["id"] = "812:80";
  Reply entryWithZeroWidth = entry();
  entryWithZeroWidth["bounds"]["width"] = 0;
  Reply deniedWithTruncated = permissionDeniedReply();
  deniedWithTruncated.update({{"windows", Reply::array()}, {"truncated", false}});
  const std::vector<Case> cases = {
      {"protected record with a name", observationWith([](Reply& r) {
         r.update({{"protected", true}, {"hittable", false}});
       }),
       ReplyKind::observation},
      {"protected record that is hittable", observationWith([](Reply& r) {
         r.update({{"protected", true}, {"name", ""}});
       }),
       ReplyKind::observation},
      {"text box that shows its value", observationWith([](Reply& r) {
         r.update({{"role", "textbox"}, {"value", "secret"}});
       }),
       ReplyKind::observation},
      {"disabled record that is hittable", observationWith([](Reply& r) { r["enabled"] = false; }),
       ReplyKind::observation},
      {"focused record with a path id", observationWith([](Reply& r) { r["focused"] = true; }),
       ReplyKind::observation},
      {"focus id on an unfocused record", observationWith([](Reply& r) { r["id"] = "812:focus"; }),
       ReplyKind::observation},
      {"record 25 levels below the window", observationWith([](Reply& r) {
         std::string id = "812:w";
         for (int level = 0; level < 25; ++level) id += ".0";
         r["id"] = id;
       }),
       ReplyKind::observation},
      {"record of zero width", observationWith([](Reply& r) { r["bounds"]["width"] = 0.0; }),
       ReplyKind::observation},
      {"record without hittable", observationWith([](Reply& r) { r.erase("hittable"); }),
       ReplyKind::observation},
      {"record with a further key", observationWith([](Reply& r) { r["extra"] = 1; }),
       ReplyKind::observation},
      {"161 records", observation(tooMany), ReplyKind::observation},
      {"observation failure with records",
       Reply{{"status", "unavailable"},
             {"reason", kReasonInputFocusChanged},
             {"elements", Reply::array({record()})}},
       ReplyKind::observation},
      {"observation failure without elements", unavailableReply(kReasonNoWindowInformation),
       ReplyKind::observation},
      {"a reason of another command", withElements(unavailableReply(kReasonInvalidEntry)),
       ReplyKind::observation},
      {"focus reply with a reason of the observation", unavailableReply(kReasonFrontWindowChanged),
       ReplyKind::focus},
      {"focused reply with more keys", Reply{{"status", "focused"}, {"window", entry()}},
       ReplyKind::focus},
      {"81 entries", listing(tooManyEntries), ReplyKind::windows},
      {"entry index 80", listing(Reply::array({entryWithIndex80})), ReplyKind::windows},
      {"entry of zero width", listing(Reply::array({entryWithZeroWidth})), ReplyKind::windows},
      {"window list denied with truncated", deniedWithTruncated, ReplyKind::windows},
      {"unsupported with elements", withElements(unavailableReply(kReasonUnsupportedCommand)),
       ReplyKind::unsupported},
      {"a non-finite number", observationWith([](Reply& r) {
         r["bounds"]["x"] = std::numeric_limits<double>::quiet_NaN();
       }),
       ReplyKind::observation},
      {"a string that is not UTF-8", observationWith([](Reply& r) { r["name"] = "broken \xC3"; }),
       ReplyKind::observation},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(replyProblem(c.reply, c.kind), "");
  }
}

TEST(ReplySchemas, SameJsonTellsNegativeZeroAndNumberKindsApart) {
  EXPECT_TRUE(sameJson(Reply::parse(R"({"a":[1,2.5,"x"]})"), Reply::parse(R"({"a":[1,2.5,"x"]})")));
  EXPECT_FALSE(sameJson(Reply(0.0), Reply(-0.0)));
  EXPECT_FALSE(sameJson(Reply(1), Reply(1.0)));
  EXPECT_TRUE(sameJson(Reply(812), Reply(812u)));
  EXPECT_FALSE(sameJson(Reply::parse(R"({"a":1})"), Reply::parse(R"({"a":1,"b":2})")));
}

}  // namespace
}  // namespace nevo::test
