#include "focus/focus_request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "reply/emit.h"
#include "focus/focus_window.h"
#include "commands.h"
#include "sim_desktop.h"

namespace nevo {
namespace {

using nlohmann::json;
using sim::Op;
using sim::SimDesktop;

// A well-formed entry for the window at index 3 of process 321.
json validEntry() {
  return {{"id", "321:3"},
          {"pid", 321},
          {"appName", "Editor"},
          {"title", "Draft"},
          {"bounds", {{"x", 10.5}, {"y", -20}, {"width", 640}, {"height", 480}}},
          {"isMinimized", false},
          {"isFrontmost", true}};
}

std::string entryWith(const std::function<void(json&)>& change) {
  json entry = validEntry();
  change(entry);
  return entry.dump();
}

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

std::string paddedTo(std::string text, std::size_t size) {
  text.resize(size, ' ');
  return text;
}

// What the input phase makes of `input` arriving on standard input.
OrReply<FocusRequest> requestFrom(const std::string& input) {
  SimDesktop desktop;
  desktop.standardInput = input;
  return parseFocusRequest(readFocusInput(desktop));
}

TEST(FocusRequestInput, AsksForPermissionBeforeReadingStandardInput) {
  SimDesktop untrusted;
  untrusted.trusted = false;
  untrusted.standardInput = validEntry().dump();
  EXPECT_EQ(serializeReply(test::focusWindowOn(untrusted)),
            R"({"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied"})");
  EXPECT_TRUE(untrusted.callsOf(Op::readInput).empty());

  SimDesktop trusted;
  trusted.standardInput = "";
  EXPECT_EQ(test::focusWindowOn(trusted), unavailableReply(kReasonInvalidEntry));
  ASSERT_GE(trusted.calls().size(), 2u);
  EXPECT_EQ(trusted.calls()[0].op, Op::trusted);
  EXPECT_EQ(trusted.calls()[1].op, Op::readInput);
}

TEST(FocusRequestInput, ReadsInChunksUntilEndOfInputOrOneBytePastTheLimit) {
  const std::vector<double> eightChunks(8, 4096.0);
  auto then = [](std::vector<double> requests, std::vector<double> more) {
    requests.insert(requests.end(), more.begin(), more.end());
    return requests;
  };
  struct Case {
    std::size_t available;
    std::vector<double> requests;  // byte counts asked of standard input, in order
    std::size_t kept;
  } cases[] = {
      {0, {4096}, 0},
      {4095, {4096, 4096}, 4095},
      {4096, {4096, 4096}, 4096},
      {5000, {4096, 4096, 4096}, 5000},
      {32767, then(eightChunks, {2}), 32767},
      {32768, then(eightChunks, {1}), 32768},
      {32769, then(eightChunks, {1}), 32769},
      {100000, then(eightChunks, {1}), 32769},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.available);
    SimDesktop desktop;
    for (std::size_t i = 0; i < c.available; ++i) {
      desktop.standardInput += static_cast<char>('a' + i % 26);
    }
    const std::string input = readFocusInput(desktop);
    EXPECT_EQ(input, desktop.standardInput.substr(0, c.kept));
    std::vector<double> requests;
    for (const sim::Call& call : desktop.callsOf(Op::readInput)) requests.push_back(call.number);
    EXPECT_EQ(requests, c.requests);
  }
}

TEST(FocusRequestInput, TellsNumbersAndBooleansApart) {
  struct Case {
    const char* name;
    std::optional<json> value;  // absent: the key is missing
    std::optional<double> number;
    std::optional<bool> boolean;
  } cases[] = {
      {"missing", std::nullopt, std::nullopt, std::nullopt},
      {"true", json(true), std::nullopt, true},
      {"false", json(false), std::nullopt, false},
      {"0", json(0), 0.0, std::nullopt},
      {"1", json(1), 1.0, std::nullopt},
      {"-5", json(-5), -5.0, std::nullopt},
      {"2.5", json(2.5), 2.5, std::nullopt},
      {"largest unsigned", json(std::numeric_limits<std::uint64_t>::max()), 18446744073709551615.0,
       std::nullopt},
      {"NaN", json(std::nan("")), std::nullopt, std::nullopt},
      {"infinity", json(std::numeric_limits<double>::infinity()), std::nullopt, std::nullopt},
      {"digits in a string", json("42"), std::nullopt, std::nullopt},
      {"the word true", json("true"), std::nullopt, std::nullopt},
      {"null", json(nullptr), std::nullopt, std::nullopt},
      {"array", json::array({1}), std::nullopt, std::nullopt},
      {"object", json::object(), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const json* value = c.value ? &*c.value : nullptr;
    EXPECT_EQ(inputNumber(value), c.number);
    EXPECT_EQ(inputBoolean(value), c.boolean);
  }
}

TEST(FocusRequestInput, KeepsEveryFieldAsWritten) {
  const json entry = {
      {"id", "812:79"},
      {"pid", 812},
      {"appName", "Cafe\u0301 ☺️"},
      {"title", "Report 1/2 — \"final\"\n"},
      {"bounds", {{"x", 0.1 + 0.2}, {"y", -7.25}, {"width", 1 / 3.0}, {"height", 1e-300}}},
      {"isMinimized", true},
      {"isFrontmost", false}};
  const OrReply<FocusRequest> result = requestFrom(entry.dump());
  ASSERT_TRUE(std::holds_alternative<FocusRequest>(result)) << std::get<Reply>(result);
  const FocusRequest& request = std::get<FocusRequest>(result);
  EXPECT_EQ(request.id, "812:79");
  EXPECT_EQ(request.pid, 812);
  EXPECT_EQ(request.index, 79);
  EXPECT_EQ(request.appName, "Cafe\u0301 ☺️");
  EXPECT_EQ(request.title, "Report 1/2 — \"final\"\n");
  EXPECT_EQ(request.bounds.x, 0.1 + 0.2);
  EXPECT_EQ(request.bounds.y, -7.25);
  EXPECT_EQ(request.bounds.width, 1 / 3.0);
  EXPECT_EQ(request.bounds.height, 1e-300);
  EXPECT_TRUE(request.isMinimized);
  EXPECT_FALSE(request.isFrontmost);
  EXPECT_TRUE(request.identity() == (WindowIdentity{request.title, request.bounds, true}));
}

enum class Outcome { accepted, invalidEntry, applicationChanged };

TEST(FocusRequestInput, ChecksTheEntryFieldByFieldThenTheId) {
  const auto set = [](const char* key, json value) {
    return entryWith([=](json& e) { e[key] = value; });
  };
  const auto setBounds = [](const char* key, json value) {
    return entryWith([=](json& e) { e["bounds"][key] = value; });
  };
  const auto without = [](const char* key) { return entryWith([=](json& e) { e.erase(key); }); };
  const auto withoutBounds = [](const char* key) {
    return entryWith([=](json& e) { e["bounds"].erase(key); });
  };
  const auto withId = [](const char* id) { return entryWith([=](json& e) { e["id"] = id; }); };
  const std::string valid = validEntry().dump();
  const std::string family = "👨‍👩‍👧";  // five code points, one character
  const std::string smiley = "☺️";              // two code points, one character
  const std::string accented = "e\u0301";           // letter and combining mark, one character
  std::string invalidUtf8Title = valid;
  invalidUtf8Title.replace(invalidUtf8Title.find("Draft"), 5, "\xff\xfe");

  struct Case {
    std::string name;
    std::string input;
    Outcome outcome;
    std::int64_t index = 3;
    ProcessId pid = 321;
  };
  const Case cases[] = {
      // Size and shape of the input.
      {"exactly 32768 bytes, padded with spaces", paddedTo(valid, 32768), Outcome::accepted},
      {"32769 bytes", paddedTo(valid, 32769), Outcome::invalidEntry},
      {"far more than the limit", paddedTo(valid, 100000), Outcome::invalidEntry},
      {"empty input", "", Outcome::invalidEntry},
      {"only blanks", " \n\t", Outcome::invalidEntry},
      {"null", "null", Outcome::invalidEntry},
      {"empty array", "[]", Outcome::invalidEntry},
      {"empty object", "{}", Outcome::invalidEntry},
      {"array holding a valid entry", "[" + valid + "]", Outcome::invalidEntry},
      {"a string", "\"321:3\"", Outcome::invalidEntry},
      {"a number", "321", Outcome::invalidEntry},
      {"cut short", valid.substr(0, valid.size() - 1), Outcome::invalidEntry},
      {"text after the object", valid + " x", Outcome::invalidEntry},
      {"two objects", valid + valid, Outcome::invalidEntry},
      // The parser would stop at a NUL byte and never see what follows it.
      {"NUL byte then garbage", valid + std::string(1, '\0') + "garbage", Outcome::invalidEntry},
      {"NUL byte then a second entry", valid + std::string(1, '\0') + valid, Outcome::invalidEntry},
      {"NUL byte at the end", valid + std::string(1, '\0'), Outcome::invalidEntry},
      {"trailing newline", valid + "\n", Outcome::accepted},
      {"blanks around", " \r\n" + valid + "\r\n\t ", Outcome::accepted},
      {"extra members", entryWith([](json& e) {
         e["index"] = 7;
         e["note"] = {{"a", nullptr}};
       }),
       Outcome::accepted},
      // "id"
      {"id missing", without("id"), Outcome::invalidEntry},
      {"id a number", set("id", 321), Outcome::invalidEntry},
      {"id null", set("id", nullptr), Outcome::invalidEntry},
      {"id in an array", set("id", json::array({"321:3"})), Outcome::invalidEntry},
      // "pid"
      {"pid missing", without("pid"), Outcome::invalidEntry},
      {"pid a string of digits", set("pid", "321"), Outcome::invalidEntry},
      {"pid true", set("pid", true), Outcome::invalidEntry},
      {"pid null", set("pid", nullptr), Outcome::invalidEntry},
      {"pid 0", set("pid", 0), Outcome::invalidEntry},
      {"pid -5", set("pid", -5), Outcome::invalidEntry},
      {"pid 1.5", set("pid", 1.5), Outcome::invalidEntry},
      {"pid 321.5", set("pid", 321.5), Outcome::invalidEntry},
      {"pid 2147483648", set("pid", 2147483648LL), Outcome::invalidEntry},
      {"pid 321.0", set("pid", 321.0), Outcome::accepted},
      {"pid 3.21e2",
       R"({"id":"321:3","pid":3.21e2,"appName":"Editor","title":"Draft",)"
       R"("bounds":{"x":10.5,"y":-20,"width":640,"height":480},)"
       R"("isMinimized":false,"isFrontmost":true})",
       Outcome::accepted},
      {"pid 1", entryWith([](json& e) {
         e["pid"] = 1;
         e["id"] = "1:3";
       }),
       Outcome::accepted, 3, 1},
      {"pid 2147483647", entryWith([](json& e) {
         e["pid"] = 2147483647;
         e["id"] = "2147483647:3";
       }),
       Outcome::accepted, 3, 2147483647},
      // "appName"
      {"appName missing", without("appName"), Outcome::invalidEntry},
      {"appName a number", set("appName", 5), Outcome::invalidEntry},
      {"appName null", set("appName", nullptr), Outcome::invalidEntry},
      {"appName empty", set("appName", ""), Outcome::accepted},
      {"appName of 300 characters", set("appName", repeated("a", 300)), Outcome::accepted},
      {"appName of 301 characters", set("appName", repeated("a", 301)), Outcome::invalidEntry},
      {"appName of 300 emoji", set("appName", repeated(family, 300)), Outcome::accepted},
      {"appName of 301 emoji", set("appName", repeated(family, 301)), Outcome::invalidEntry},
      // "title"
      {"title missing", without("title"), Outcome::invalidEntry},
      {"title false", set("title", false), Outcome::invalidEntry},
      {"title null", set("title", nullptr), Outcome::invalidEntry},
      {"title empty", set("title", ""), Outcome::accepted},
      {"title not valid UTF-8", invalidUtf8Title, Outcome::invalidEntry},
      {"title of 4096 characters", set("title", repeated("t", 4096)), Outcome::accepted},
      {"title of 4097 characters", set("title", repeated("t", 4097)), Outcome::invalidEntry},
      {"title of 4096 emoji", set("title", repeated(smiley, 4096)), Outcome::accepted},
      {"title of 4097 emoji", set("title", repeated(smiley, 4097)), Outcome::invalidEntry},
      {"title of 4096 accented letters", set("title", repeated(accented, 4096)), Outcome::accepted},
      {"title of 4097 accented letters", set("title", repeated(accented, 4097)),
       Outcome::invalidEntry},
      // "bounds"
      {"bounds missing", without("bounds"), Outcome::invalidEntry},
      {"bounds an array", set("bounds", json::array({10.5, -20, 640, 480})), Outcome::invalidEntry},
      {"bounds a string", set("bounds", "10,20,640,480"), Outcome::invalidEntry},
      {"bounds null", set("bounds", nullptr), Outcome::invalidEntry},
      {"x missing", withoutBounds("x"), Outcome::invalidEntry},
      {"y missing", withoutBounds("y"), Outcome::invalidEntry},
      {"width missing", withoutBounds("width"), Outcome::invalidEntry},
      {"height missing", withoutBounds("height"), Outcome::invalidEntry},
      {"x a string", setBounds("x", "10"), Outcome::invalidEntry},
      {"y null", setBounds("y", nullptr), Outcome::invalidEntry},
      {"width true", setBounds("width", true), Outcome::invalidEntry},
      {"height in an array", setBounds("height", json::array({480})), Outcome::invalidEntry},
      {"width 0", setBounds("width", 0), Outcome::invalidEntry},
      {"width -1", setBounds("width", -1), Outcome::invalidEntry},
      {"height 0", setBounds("height", 0.0), Outcome::invalidEntry},
      {"height -0.5", setBounds("height", -0.5), Outcome::invalidEntry},
      {"negative x and y", entryWith([](json& e) {
         e["bounds"]["x"] = -1440;
         e["bounds"]["y"] = -0.5;
       }),
       Outcome::accepted},
      {"tiny width", setBounds("width", 1e-300), Outcome::accepted},
      // "isMinimized" and "isFrontmost"
      {"isMinimized missing", without("isMinimized"), Outcome::invalidEntry},
      {"isMinimized 0", set("isMinimized", 0), Outcome::invalidEntry},
      {"isMinimized \"false\"", set("isMinimized", "false"), Outcome::invalidEntry},
      {"isMinimized null", set("isMinimized", nullptr), Outcome::invalidEntry},
      {"isFrontmost missing", without("isFrontmost"), Outcome::invalidEntry},
      {"isFrontmost 1", set("isFrontmost", 1), Outcome::invalidEntry},
      {"isFrontmost 0.0", set("isFrontmost", 0.0), Outcome::invalidEntry},
      // The id, once every field is sound.
      {"id 321:0", withId("321:0"), Outcome::accepted, 0},
      {"id 321:79", withId("321:79"), Outcome::accepted, 79},
      {"id 321:3:1", withId("321:3:1"), Outcome::applicationChanged},
      {"id 321", withId("321"), Outcome::applicationChanged},
      {"id :3", withId(":3"), Outcome::applicationChanged},
      {"id 321:", withId("321:"), Outcome::applicationChanged},
      {"id empty", withId(""), Outcome::applicationChanged},
      {"id 321:80", withId("321:80"), Outcome::applicationChanged},
      {"id 321:-1", withId("321:-1"), Outcome::applicationChanged},
      {"id 321:-0", withId("321:-0"), Outcome::applicationChanged},
      {"id 321:03", withId("321:03"), Outcome::applicationChanged},
      {"id 321:+3", withId("321:+3"), Outcome::applicationChanged},
      {"id 321:3 with a blank", withId("321:3 "), Outcome::applicationChanged},
      {"id 321: 3", withId("321: 3"), Outcome::applicationChanged},
      {"id 0321:3", withId("0321:3"), Outcome::applicationChanged},
      {"id +321:3", withId("+321:3"), Outcome::applicationChanged},
      {"id 322:3", withId("322:3"), Outcome::applicationChanged},
      {"id 321:x", withId("321:x"), Outcome::applicationChanged},
      {"id with an index past 64 bits", withId("321:99999999999999999999"),
       Outcome::applicationChanged},
      {"id 321.0:3 for pid 321.0", entryWith([](json& e) {
         e["pid"] = 321.0;
         e["id"] = "321.0:3";
       }),
       Outcome::applicationChanged},
      // The field rules come before the id rule.
      {"title missing and a malformed id", entryWith([](json& e) {
         e.erase("title");
         e["id"] = "321:+3";
       }),
       Outcome::invalidEntry},
      {"isFrontmost 1 and an id of another pid", entryWith([](json& e) {
         e["isFrontmost"] = 1;
         e["id"] = "322:3";
       }),
       Outcome::invalidEntry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OrReply<FocusRequest> result = requestFrom(c.input);
    switch (c.outcome) {
      case Outcome::accepted: {
        ASSERT_TRUE(std::holds_alternative<FocusRequest>(result)) << std::get<Reply>(result);
        const FocusRequest& request = std::get<FocusRequest>(result);
        EXPECT_EQ(request.pid, c.pid);
        EXPECT_EQ(request.index, c.index);
        break;
      }
      case Outcome::invalidEntry:
        ASSERT_TRUE(std::holds_alternative<Reply>(result));
        EXPECT_EQ(std::get<Reply>(result), unavailableReply(kReasonInvalidEntry));
        break;
      case Outcome::applicationChanged:
        ASSERT_TRUE(std::holds_alternative<Reply>(result));
        EXPECT_EQ(std::get<Reply>(result), unavailableReply(kReasonApplicationChanged));
        break;
    }
  }
}

}  // namespace
}  // namespace nevo
