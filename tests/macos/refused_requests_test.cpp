// Requests refused with kAXErrorAPIDisabled: the system no longer lets the tool use the
// accessibility interface (the permission was withdrawn, or the host was updated or
// re-signed and the system no longer recognises it, while the settings still show it on and
// the trust check may still say yes). Each command then gives its permission-denied reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands.h"
#include "fake_macos.h"
#include "reply/reply.h"
#include "sim_desktop.h"

namespace nevo::macos {
namespace {

using sim::Node;
using sim::SimApp;
using sim::SimDesktop;

struct Scene {
  SimDesktop desktop;
  SimApp& notes = desktop.addApp(812, "Notes");
  Node window = notes.addWindow("Notes", {0, 0, 400, 300});
  Node button = window.add("AXButton").title("OK").frame({10, 10, 80, 30});
  Scene() {
    notes.focusWindow(window);
    notes.addWindow("Draft", {20, 20, 400, 300}).minimized(true);
    SimApp& mail = desktop.addApp(900, "Mail");
    mail.focusWindow(mail.addWindow("Inbox", {0, 0, 500, 400}));
    desktop.setFrontmost(900);
    // The focus command's input: the minimized window.
    desktop.standardInput =
        R"({"id":"812:1","pid":812,"appName":"Notes","title":"Draft",)"
        R"("bounds":{"x":20,"y":20,"width":400,"height":300},)"
        R"("isMinimized":true,"isFrontmost":false})";
  }
};

Reply deniedWith(const char* emptyList) {
  Reply denied = permissionDeniedReply();
  if (emptyList != nullptr) denied[emptyList] = Reply::array();
  return denied;
}

const struct Command {
  std::vector<std::string> arguments;
  Reply denied;
  std::string_view status;  // of the whole run
} kCommands[] = {
    {{}, deniedWith("elements"), kStatusAvailable},
    {{"--windows"}, deniedWith("windows"), kStatusAvailable},
    {{"--focus"}, deniedWith(nullptr), kStatusFocused},
};

// The trust check says yes throughout; the system refuses the requests from one on.
TEST(MacosRefusedRequests, GiveEachCommandItsPermissionDeniedReplyFromAnyRequestOn) {
  for (const Command& c : kCommands) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    int requests = 0;
    {
      Scene scene;
      EXPECT_EQ(test::runCommandOn(c.arguments, scene.desktop)["status"], c.status);
      requests = fake::requests();
      ASSERT_GT(requests, 0);
      for (const std::string& problem : fake::endTest()) ADD_FAILURE() << problem;
    }
    for (int allowed = 0; allowed < requests; ++allowed) {
      SCOPED_TRACE("refused from request " + std::to_string(allowed + 1) + " of " +
                   std::to_string(requests));
      Scene scene;
      test::platformUnderTest(scene.desktop);
      fake::refuseRequestsAfter(allowed);
      EXPECT_EQ(test::runCommandOn(c.arguments, scene.desktop), c.denied);
      for (const std::string& problem : fake::endTest()) ADD_FAILURE() << problem;
    }
  }
}

// One attribute of a batch refused on its own counts as a refusal too.
TEST(MacosRefusedRequests, ARefusalInsideABatchCounts) {
  Scene scene;
  scene.desktop.setFrontmost(812);
  test::platformUnderTest(scene.desktop);
  fake::serveRaw(scene.button.element(), "AXTitle", [] { return fake::makeError(kAXErrorAPIDisabled); });
  EXPECT_EQ(test::runCommandOn({}, scene.desktop), deniedWith("elements"));
}

// Each run of the tool starts afresh: a refusal seen by one command does not deny the next.
TEST(MacosRefusedRequests, ARefusalLastsForOneRunOnly) {
  Scene scene;
  test::platformUnderTest(scene.desktop);
  fake::refuseRequestsAfter(0);
  EXPECT_EQ(test::runCommandOn({"--windows"}, scene.desktop), deniedWith("windows"));
  fake::refuseRequestsAfter(-1);
  EXPECT_EQ(test::runCommandOn({"--windows"}, scene.desktop)["status"], kStatusAvailable);
}

}  // namespace
}  // namespace nevo::macos
