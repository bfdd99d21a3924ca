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

// The permission withdrawn while a command runs, after any of its requests: the command ends
// with its permission-denied reply, never with a reply built on what it could no longer
// read (a missing window, a short list, an unconfirmed focus) or on a snapshot taken as the
// permission went.
TEST(Dispatch, GivesThePermissionDeniedReplyWhenThePermissionGoesDuringTheCommand) {
  const auto scene = [](SimDesktop& desktop) {
    sim::SimApp& notes = desktop.addApp(812, "Notes");
    const sim::Node window = notes.addWindow("Notes", {0, 0, 400, 300});
    window.add("AXButton").title("OK").frame({10, 10, 80, 30});
    notes.focusWindow(window);
    notes.addWindow("Draft", {20, 20, 400, 300}).minimized(true);
    sim::SimApp& mail = desktop.addApp(900, "Mail");
    mail.focusWindow(mail.addWindow("Inbox", {0, 0, 500, 400}));
    desktop.setFrontmost(900);
  };
  // The focus command's input: the minimized window's entry, as the window list gives it.
  std::string entry;
  {
    SimDesktop desktop;
    scene(desktop);
    const Reply list = test::runCommandOn({"--windows"}, desktop);
    for (const Reply& window : list["windows"]) {
      if (window["title"] == "Draft") entry = window.dump();
    }
    ASSERT_FALSE(entry.empty());
  }
  const Reply denied = permissionDeniedReply();
  struct Case {
    std::vector<std::string> arguments;
    Reply withdrawn;
  } cases[] = {
      {{}, {{"status", "denied"}, {"reason", kReasonPermissionDenied}, {"elements", Reply::array()}}},
      {{"--windows"},
       {{"status", "denied"}, {"reason", kReasonPermissionDenied}, {"windows", Reply::array()}}},
      {{"--focus"}, denied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    int requests = 0;
    {
      SimDesktop desktop;
      scene(desktop);
      desktop.standardInput = entry;
      const Reply whole = test::runCommandOn(c.arguments, desktop);
      EXPECT_EQ(whole["status"], c.arguments.empty() || c.arguments[0] == "--windows"
                                     ? kStatusAvailable
                                     : kStatusFocused);
      requests = desktop.axCalls();
      ASSERT_GT(requests, 0);
    }
    for (int after = 1; after <= requests; ++after) {
      SCOPED_TRACE("withdrawn after request " + std::to_string(after));
      SimDesktop desktop;
      scene(desktop);
      desktop.standardInput = entry;
      desktop.afterAxCalls(after, [&desktop] { desktop.trusted = false; });
      EXPECT_EQ(test::runCommandOn(c.arguments, desktop), c.withdrawn);
    }
  }
}

}  // namespace
}  // namespace nevo
