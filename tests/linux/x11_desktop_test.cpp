// The X11 side against a scripted X server on an abstract Unix socket: what it reads from a
// server that answers, and that every read ends when the server stops answering, wherever
// it stops (before the connection setup, before a reply, in the middle of one).
#include "platform/linux/x11_desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/linux/dbus_link.h"
#include "scripted_x_server.h"

namespace nevo::lin {
namespace {

using test::kActiveWindow;
using test::Script;
using test::ScriptedXServer;

// DISPLAY names the scripted server for the test's duration; no authorization is looked up.
class X11DesktopTest : public ::testing::Test {
 protected:
  void use(const ScriptedXServer& server) {
    ASSERT_FALSE(server.display().empty()) << "no free display number";
    ::setenv("DISPLAY", server.display().c_str(), 1);
    ::setenv("XAUTHORITY", "/nonexistent", 1);
  }
  void TearDown() override {
    restore("DISPLAY", display_);
    restore("XAUTHORITY", authority_);
  }

 private:
  static std::optional<std::string> saved(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::optional<std::string> display_ = saved("DISPLAY");
  std::optional<std::string> authority_ = saved("XAUTHORITY");
};

TEST_F(X11DesktopTest, ReadsWhatTheServerAnswers) {
  ScriptedXServer server(Script::answers);
  use(server);
  std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->activeWindow(), std::optional<xcb_window_t>(kActiveWindow));
  EXPECT_EQ(display->windowPid(kActiveWindow), 0) << "a WINDOW value is no process";
}

// Any client may set a window's title: a title of 64 MB is read up to the length limit,
// never whole, and still reads as longer than the longest title kept.
TEST_F(X11DesktopTest, ATitleIsReadUpToTheLengthLimit) {
  ScriptedXServer server(Script::longTitles);
  use(server);
  std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
  ASSERT_NE(display, nullptr);
  const std::vector<ClientWindow> windows = display->clientWindows();
  ASSERT_EQ(windows.size(), 1u);
  const std::string& title = windows[0].title;
  EXPECT_EQ(title.substr(0, test::kLongTitleStart.size()), test::kLongTitleStart);
  EXPECT_GT(title.size(), 4 * 4097u) << "reads as longer than 4096 characters of any width";
  EXPECT_LE(server.largestTitleSent(), 4 * 4098u);
}

TEST_F(X11DesktopTest, NoSetupAnswerMeansNoDisplay) {
  ScriptedXServer server(Script::noSetup);
  use(server);
  EXPECT_EQ(X11Desktop::connect(monotonicNow() + 0.2), nullptr);
}

// A server that stops before a reply, or in the middle of one (xcb then waits for the rest
// of it, without end, unless its socket is shut down): the read ends absent, and nothing is
// asked of the server again, beyond the request that marks the end of the exchange it did
// not answer.
TEST_F(X11DesktopTest, AServerThatStopsAnsweringEndsEveryRead) {
  for (const Script script : {Script::stopsBeforeReply, Script::stopsMidReply}) {
    SCOPED_TRACE(script == Script::stopsBeforeReply ? "stops before a reply"
                                                    : "stops in the middle of a reply");
    ScriptedXServer server(script);
    use(server);
    std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
    ASSERT_NE(display, nullptr) << "the atoms were answered";
    EXPECT_EQ(display->activeWindow(), std::nullopt);
    EXPECT_TRUE(display->clientWindows().empty());
    EXPECT_EQ(display->accessibilityBusAddress(), "");
    EXPECT_EQ(display->windowPid(kActiveWindow), 0);
    EXPECT_FALSE(display->requestRaise(kActiveWindow));
    EXPECT_EQ(server.finish(), 1);
  }
}

}  // namespace
}  // namespace nevo::lin
