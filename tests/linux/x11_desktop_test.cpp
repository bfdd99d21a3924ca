// The X11 side against a scripted X server on an abstract Unix socket: what it reads from a
// server that answers (the processes X-Resource gives, the windows of an application
// without an accessibility tree), and that every read ends when the server stops
// answering, wherever it stops (before the connection setup, before a reply, in the
// middle of one).
#include "platform/linux/x11_desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/linux/client_windows.h"
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

// A window without _NET_WM_PID (Tk sets none; every property of this server holds a window,
// which is no process) gets the process the X-Resource extension gives for the client that
// made it, where the server has the extension and knows that client's process.
TEST_F(X11DesktopTest, AWindowWithoutItsProcessHasTheOneXResourceKnows) {
  struct Case {
    const char* name;
    test::Resources resources;
    ProcessId expected;
  };
  const Case cases[] = {
      {"no X-Resource extension", {false, 4242, true}, 0},
      {"X-Resource gives the process", {true, 4242, true}, 4242},
      {"X-Resource knows no process of that client", {true, 4242, false}, 0},
      {"X-Resource gives a process beyond the 32-bit range", {true, 0x80000000u, true}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedXServer server(Script::answers, c.resources);
    use(server);
    std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->resourceExtension(), c.resources.extension);
    EXPECT_EQ(display->windowPid(kActiveWindow), c.expected);
    const std::vector<ClientWindow> all = display->clientWindows();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].id, kActiveWindow);
    EXPECT_EQ(all[0].pid, c.expected);
    // A process's own windows: those it made, by the same rule.
    if (c.expected != 0) {
      const std::vector<ClientWindow> own = display->clientWindows(c.expected);
      ASSERT_EQ(own.size(), 1u);
      EXPECT_EQ(own[0].pid, c.expected);
      EXPECT_TRUE(display->clientWindows(c.expected + 1).empty());
    }
  }
}

// An application without an accessibility tree (here: the process X-Resource gives for the
// server's one window, which is also the active one): its windows are its client windows,
// and its focused window is answered only through an element that listed them, so that
// the observation, which asks for it straight away, finds none.
TEST_F(X11DesktopTest, AnApplicationWithoutATreeHasItsClientWindows) {
  ScriptedXServer server(Script::answers, {true, 4242, true});
  use(server);
  std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
  ASSERT_NE(display, nullptr);
  ClientWindows windows;
  windows.attach(*display);
  const LinuxElement application(LinuxElement::Kind::application, ObjectRef{}, 4242);
  ASSERT_TRUE(ClientWindows::serves(application));
  const std::string_view focused[] = {"AXFocusedWindow"};

  EXPECT_EQ(windows.read(application, focused)[0].status, AxStatus::noValue)
      << "not listed through this element";
  const CountRead count = windows.count(application, "AXWindows");
  EXPECT_EQ(count.status, AxStatus::success);
  EXPECT_EQ(count.count, 1);
  const AttributeRead listed = windows.values(application, "AXWindows", 0, 80);
  ASSERT_EQ(listed.status, AxStatus::success);
  const ArrayValue* array = listed.value.get<ArrayValue>();
  ASSERT_TRUE(array != nullptr && array->size() == 1);
  const Element* window = (*array)[0].get<Element>();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(*window == clientWindowElement(4242, kActiveWindow));

  const AttributeRead front = windows.read(application, focused)[0];
  ASSERT_EQ(front.status, AxStatus::success);
  ASSERT_NE(front.value.get<Element>(), nullptr);
  EXPECT_TRUE(*front.value.get<Element>() == *window);

  // Another process's application element, and a window that is not one of the process's.
  const LinuxElement other(LinuxElement::Kind::application, ObjectRef{}, 4243);
  EXPECT_EQ(windows.count(other, "AXWindows").count, 0);
  EXPECT_EQ(windows.read(other, focused)[0].status, AxStatus::noValue);
  const std::string_view title[] = {"AXTitle"};
  const LinuxElement stranger(LinuxElement::Kind::clientWindow, ObjectRef{}, 4243, kActiveWindow);
  EXPECT_EQ(windows.read(stranger, title)[0].status, AxStatus::invalidElement);
  EXPECT_EQ(windows.raise(stranger), AxStatus::invalidElement);
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
