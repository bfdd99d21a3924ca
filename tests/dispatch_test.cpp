#include "app/dispatch.h"

#include <gtest/gtest.h>

#include "reply/emit.h"
#include "commands.h"
#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Op;
using sim::SimDesktop;

std::string replyLine(SimDesktop& desktop, const std::vector<std::string>& arguments) {
  return serializeReply(test::runCommandOn(arguments, desktop)).value_or("<nothing>");
}

TEST(Dispatch, AnswersUnrecognisedArgumentListsWithoutTheGate) {
  const std::vector<std::vector<std::string>> lists = {
      {"--bogus"},   {"--windows", "x"}, {"--focus", "--windows"},   {""},
      {"--Windows"}, {"windows"},        {"--windows", "--windows"}, {"--focus "},
      {"-windows"},  {"--FOCUS"},
  };
  for (const bool trusted : {true, false}) {
    for (const auto& arguments : lists) {
      SCOPED_TRACE(::testing::PrintToString(arguments) + (trusted ? " trusted" : " untrusted"));
      SimDesktop desktop;
      desktop.trusted = trusted;
      EXPECT_EQ(replyLine(desktop, arguments),
                R"({"reason":"不支持的原生窗口命令。","status":"unavailable"})");
      EXPECT_TRUE(desktop.calls().empty()) << "nothing is asked of the platform";
    }
  }
}

TEST(Dispatch, GivesEachCommandItsPermissionDeniedReply) {
  struct Case {
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {{}, R"({"elements":[],"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied"})"},
      {{"--windows"},
       R"({"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied","windows":[]})"},
      {{"--focus"}, R"({"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    SimDesktop desktop;
    desktop.trusted = false;
    desktop.addApp(812, "Notes").addWindow("Notes", {0, 0, 100, 100});
    desktop.setFrontmost(812);
    desktop.standardInput = R"({"id":"812:0"})";
    EXPECT_EQ(replyLine(desktop, c.arguments), c.line);
    // The gate is the only question asked: no application, window or input is read.
    ASSERT_EQ(desktop.calls().size(), 1u);
    EXPECT_EQ(desktop.calls()[0].op, Op::trusted);
  }
}

}  // namespace
}  // namespace nevo
