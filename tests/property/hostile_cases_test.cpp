// Hostile cases that the property tests met, kept as fixed cases: trees that loop back
// on themselves, parents that loop, and an application that quits while its focus is
// still on the way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands.h"
#include "focus/activation.h"
#include "reply/emit.h"
#include "sim_desktop.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimDesktop;

// A window whose only child is the window itself is walked down one path, one record per
// level, until the depth limit stops it; nothing else stops such a loop.
TEST(HostileCases, AWindowThatIsItsOwnChildIsWalkedOnlyToTheDepthLimit) {
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  const Node window = app.addWindow("Loop", {0, 0, 800, 600});
  window.link(window);
  app.focusWindow(window);
  desktop.setFrontmost(812);

  const Reply reply = test::observeOn(desktop);

  ASSERT_EQ(reply["status"], kStatusAvailable);
  EXPECT_TRUE(reply["truncated"].get<bool>());
  std::vector<std::string> ids;
  std::string path = "812:w";
  for (int depth = 0; depth < 25; ++depth, path += ".0") ids.push_back(path);
  std::vector<std::string> reported;
  for (const Reply& record : reply["elements"]) reported.push_back(record["id"]);
  EXPECT_EQ(reported, ids);
}

// A group that lists itself twice among its children: the paths double at each level,
// and the visit budget (not the depth limit, nor the record budget: a group without a
// name makes no record) ends the walk.
TEST(HostileCases, AGroupThatIsTwiceItsOwnChildEndsAtTheVisitBudget) {
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  const Node window = app.addWindow("Loop", {0, 0, 800, 600});
  const Node group = window.add("AXGroup");
  group.frame({0, 0, 800, 600}).link(group).link(group);
  app.focusWindow(window);
  desktop.setFrontmost(812);

  const Reply reply = test::observeOn(desktop);

  ASSERT_EQ(reply["status"], kStatusAvailable);
  EXPECT_TRUE(reply["truncated"].get<bool>());
  // Every evaluation of an element reads its role (the application's own role is read
  // before the walk).
  std::size_t evaluations = 0;
  for (const sim::Call& call : desktop.calls()) {
    if (call.reads("AXRole") && call.node != app.node().id()) ++evaluations;
  }
  EXPECT_EQ(evaluations, 500u);
  EXPECT_EQ(reply["elements"].size(), 1u);  // the window
}

// The element at a button's centre is its child, whose parent is the child itself: the
// hit test compares eight candidates at most, reading seven parents, and finds no match.
TEST(HostileCases, AParentThatLoopsEndsTheHitTestAfterSevenParents) {
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  const Node window = app.addWindow("Untitled", {0, 0, 800, 600});
  const Node button = window.add("AXButton");
  button.title("OK").frame({10, 10, 80, 30});
  const Node label = button.add("AXStaticText");
  label.frame({10, 10, 80, 30}).set("AXParent", label.element());
  app.focusWindow(window);
  desktop.setFrontmost(812);

  const Reply reply = test::observeOn(desktop);

  ASSERT_EQ(reply["status"], kStatusAvailable);
  ASSERT_EQ(reply["elements"].size(), 3u);
  EXPECT_EQ(reply["elements"][1]["id"], "812:w.0");
  EXPECT_FALSE(reply["elements"][1]["hittable"].get<bool>());
  // The label is what the hit test finds at its own centre: hittable, without a parent read.
  EXPECT_EQ(reply["elements"][2]["id"], "812:w.0.0");
  EXPECT_TRUE(reply["elements"][2]["hittable"].get<bool>());
  std::size_t parentReads = 0;
  for (const sim::Call& call : desktop.callsOf(Op::read)) {
    if (call.name == "AXParent") ++parentReads;
  }
  EXPECT_EQ(parentReads, 7u);
}

// The raise lands the focus later; the application quits before it does. The focus is
// never confirmed, and the change that would have landed it finds no application.
TEST(HostileCases, AnApplicationThatQuitsBeforeItsFocusLandsLeavesTheFocusUnconfirmed) {
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  app.raiseFocusDelay(0.5);
  app.addWindow("Untitled", {0, 0, 800, 600});
  desktop.setFrontmost(812);
  const Reply entry = listWindows(desktop)["windows"][0];
  desktop.clearCalls();
  desktop.standardInput = serializeReply(entry).value_or("");
  desktop.at(desktop.clock + 0.2, [&desktop] { desktop.removeApp(812); });

  const Reply reply = test::focusWindowOn(desktop);

  EXPECT_EQ(reply, unavailableReply(kReasonFocusUnconfirmed));
}

}  // namespace
}  // namespace nevo
