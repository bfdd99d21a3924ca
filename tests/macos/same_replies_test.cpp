// Each command, run on two copies of one scene, once on the simulated desktop itself and
// once through the macOS backend over the fake: the same reply line, and the same requests
// to the desktop in the same order.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "focus/focus_window.h"
#include "observe/observation.h"
#include "reply/emit.h"
#include "sim_desktop.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

using sim::Node;
using sim::SimApp;
using sim::SimDesktop;

// A desktop with most of what the commands meet: a compose window with a password field,
// a slider, a disabled button, an unreadable element and a slow one; a minimized window; a
// window on a display left of the main one; an accessory application; a covered element.
void buildScene(SimDesktop& desktop) {
  SimApp& mail = desktop.addApp(4242, "Mail");
  const Node compose = mail.addWindow("新邮件 / draft", {100, 50, 800, 600});
  const Node toolbar = compose.add("AXGroup").frame({100, 50, 800, 60});
  toolbar.add("AXButton").title("Send").identifier("send").frame({110, 60, 80, 40});
  toolbar.add("AXButton").description("Attach").enabled(false).frame({200, 60, 80, 40});
  const Node to = compose.add("AXTextField").title("To").value(std::string("bob@example.com"));
  to.frame({160.5, 125, 600, 30.25});
  compose.add("AXTextField")
      .subrole("AXSecureTextField")
      .value(std::string("hunter2"))
      .frame({160, 170, 600, 30})
      .add("AXStaticText")
      .value(std::string("hunter2"))
      .frame({165, 175, 100, 20});
  compose.add("AXSlider").value(sim::number(0.5)).frame({110, 220, 200, 20});
  compose.add("AXCheckBox").title("Save draft").value(sim::number(1)).frame({110, 250, 120, 20});
  compose.add("AXButton").title("Unreadable").frame({320, 250, 80, 20}).fail("AXTitle");
  compose.add("AXButton").title("Slow").frame({420, 250, 80, 20}).latency("AXRole", 0.3);
  compose.add("AXStaticText")
      .value(std::string("see https://example.com/notes"))
      .frame({110, 400, 400, 20});
  compose.add("AXButton").title("Discard").frame({700, 600, 80, 30});
  mail.addWindow("Inbox", {-1440.5, 0, 1440, 900});
  mail.addWindow("Old draft", {200, 200, 640, 480}).minimized(true);
  mail.focusWindow(compose).focusElement(to);

  SimApp& notes = desktop.addApp(812, "Notes");
  notes.focusWindow(notes.addWindow("Plan", {0.1, 23.1, 1280.75, 720.3}));
  desktop.addApp(50, "Menu extra").policy(1).addWindow("Menu", {0, 0, 100, 20});
  desktop.setFrontmost(4242);
  // A palette of Notes floats over the Discard button.
  desktop.bringToFront(notes.addWindow("Palette", {650, 560, 300, 200}));
}

// The log, every field of every call.
std::vector<std::string> calls(const SimDesktop& desktop) {
  std::vector<std::string> lines;
  for (const sim::Call& c : desktop.calls()) {
    std::string line = std::to_string(static_cast<int>(c.op)) + "@" + std::to_string(c.node) + " " +
                       c.name + " " + std::to_string(c.number) + " " + std::to_string(c.second);
    for (const std::string& name : c.names) line += " " + name;
    lines.push_back(line);
  }
  return lines;
}

TEST(MacosBackend, GivesTheDesktopsOwnRepliesWithTheSameRequests) {
  struct Case {
    const char* name;
    std::string status;
    std::function<Reply(Platform&)> command;
    std::function<void(SimDesktop&)> prepare;
  } cases[] = {
      {"observation", "available", [](Platform& p) { return observe(p); }, nullptr},
      {"window list", "available", [](Platform& p) { return listWindows(p); }, nullptr},
      {"focus on the minimized window", "focused", [](Platform& p) { return focusWindow(p); },
       [](SimDesktop& d) {
         d.standardInput = R"({"id":"4242:2","pid":4242,"appName":"Mail","title":"Old draft",)"
                           R"("bounds":{"x":200,"y":200,"width":640,"height":480},)"
                           R"("isMinimized":true,"isFrontmost":false})";
       }},
      {"focus on the window of the other display", "focused",
       [](Platform& p) { return focusWindow(p); },
       [](SimDesktop& d) {
         d.standardInput = R"({"id":"4242:1","pid":4242,"appName":"Mail","title":"Inbox",)"
                           R"("bounds":{"x":-1440.5,"y":0,"width":1440,"height":900},)"
                           R"("isMinimized":false,"isFrontmost":false})";
       }},
      {"focus on a stale entry", "unavailable", [](Platform& p) { return focusWindow(p); },
       [](SimDesktop& d) {
         d.standardInput = R"({"id":"812:0","pid":812,"appName":"Notes","title":"Plan",)"
                           R"("bounds":{"x":0,"y":23.1,"width":1280.75,"height":720.3},)"
                           R"("isMinimized":false,"isFrontmost":true})";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimDesktop direct;
    SimDesktop throughBackend;
    for (SimDesktop* d : {&direct, &throughBackend}) {
      buildScene(*d);
      if (c.prepare) c.prepare(*d);
    }
    const Reply reply = c.command(direct);
    EXPECT_EQ(reply["status"], c.status) << reply;
    const std::optional<std::string> expected = serializeReply(reply);
    const std::optional<std::string> line =
        serializeReply(c.command(test::platformUnderTest(throughBackend)));
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(line, expected);
    EXPECT_EQ(calls(throughBackend), calls(direct));
  }
}

}  // namespace
}  // namespace nevo
