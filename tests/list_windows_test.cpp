#include "windows/list_windows.h"

#include <gtest/gtest.h>

#include <functional>

#include "reply/emit.h"
#include "command_bounds.h"
#include "commands.h"
#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimApp;
using sim::SimDesktop;

std::vector<std::string> idsOf(const Reply& reply) {
  std::vector<std::string> ids;
  for (const Reply& entry : reply.at("windows")) ids.push_back(entry.at("id").get<std::string>());
  return ids;
}

// Windows with distinct titles and frames.
std::vector<Node> addWindows(SimApp& app, int n) {
  std::vector<Node> windows;
  for (int i = 0; i < n; ++i) {
    windows.push_back(app.addWindow("W" + std::to_string(i), {double(i), 0, 100, 100}));
  }
  return windows;
}

std::vector<ProcessId> enumeratedPids(const SimDesktop& desktop) {
  std::vector<ProcessId> pids;
  for (const sim::Call& c : desktop.callsOf(Op::createApplication)) {
    pids.push_back(static_cast<ProcessId>(c.number));
  }
  return pids;
}

TEST(ListWindows, WithoutPermissionNothingIsEnumerated) {
  SimDesktop desktop;
  desktop.trusted = false;
  desktop.addApp(812, "Notes").addWindow("Notes", {0, 0, 100, 100});
  desktop.setFrontmost(812);
  const Reply reply = test::listWindowsOn(desktop);
  EXPECT_EQ(serializeReply(reply),
            R"({"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied","windows":[]})");
  ASSERT_EQ(desktop.calls().size(), 1u);
  EXPECT_EQ(desktop.calls()[0].op, Op::trusted);
}

TEST(ListWindows, NoOrdinaryApplicationGivesAnEmptyCompleteList) {
  SimDesktop desktop;
  desktop.addApp(50, "Menu extra").policy(1).addWindow("Menu", {0, 0, 100, 100});
  desktop.addApp(60, "Gone").terminated(true).addWindow("Gone", {0, 0, 100, 100});
  desktop.addApp(desktop.ownPid, "Self").addWindow("Self", {0, 0, 100, 100});
  desktop.setFrontmost(50);
  EXPECT_EQ(serializeReply(test::listWindowsOn(desktop)),
            R"({"status":"available","truncated":false,"windows":[]})");
  EXPECT_TRUE(desktop.callsOf(Op::createApplication).empty());
}

TEST(ListWindows, FrontmostApplicationFirstAndOnlyItsFocusedWindowIsFrontmost) {
  SimDesktop desktop;
  desktop.ownPid = 300;
  SimApp& late = desktop.addApp(2000, "Late");
  late.focusWindow(addWindows(late, 1)[0]);
  SimApp& front = desktop.addApp(900, "Front");
  const std::vector<Node> frontWindows = addWindows(front, 3);
  front.focusWindow(frontWindows[1]);
  SimApp& early = desktop.addApp(100, "Early");
  early.focusWindow(addWindows(early, 2)[0]);
  desktop.addApp(50, "Menu extra").policy(1).addWindow("Menu", {0, 0, 100, 100});
  desktop.addApp(60, "Gone").terminated(true).addWindow("Gone", {0, 0, 100, 100});
  desktop.addApp(300, "Self").addWindow("Self", {0, 0, 100, 100});
  desktop.setFrontmost(900);

  const Reply reply = test::listWindowsOn(desktop);
  EXPECT_EQ(reply.at("status"), "available");
  EXPECT_EQ(reply.at("truncated"), false);
  EXPECT_EQ(idsOf(reply),
            (std::vector<std::string>{"900:0", "900:1", "900:2", "100:0", "100:1", "2000:0"}));
  for (const Reply& entry : reply.at("windows")) {
    SCOPED_TRACE(entry.dump());
    EXPECT_EQ(entry.at("isFrontmost"), entry.at("id") == "900:1");
  }
  EXPECT_EQ(enumeratedPids(desktop), (std::vector<ProcessId>{900, 100, 2000}));
  EXPECT_FALSE(desktop.wasRead(early.node(), "AXFocusedWindow"));
  EXPECT_FALSE(desktop.wasRead(late.node(), "AXFocusedWindow"));

  // With the frontmost application an accessory, every window is in ascending pid order
  // and none is frontmost.
  desktop.setFrontmost(50);
  const Reply accessoryFront = test::listWindowsOn(desktop);
  EXPECT_EQ(idsOf(accessoryFront),
            (std::vector<std::string>{"100:0", "100:1", "900:0", "900:1", "900:2", "2000:0"}));
  for (const Reply& entry : accessoryFront.at("windows")) EXPECT_EQ(entry.at("isFrontmost"), false);
}

TEST(ListWindows, WritesTheWholeReplyLine) {
  SimDesktop desktop;
  SimApp& notes = desktop.addApp(812, "Notes/笔记");
  notes.focusWindow(notes.addWindow("Plan/计划 \xC3\xA9", {-0.5, 23.1, 1280.75, 720.3}));
  notes.addWindow("", {100, 200, 640, 480}).minimized(true);
  SimApp& viewer = desktop.addApp(900, "Viewer");
  viewer.focusWindow(viewer.addWindow("Doc \"one\"", {0.1, 7, 0.1 + 0.2, 0.001}));
  desktop.setFrontmost(812);

  const std::optional<std::string> line = serializeReply(test::listWindowsOn(desktop));
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(
      *line,
      R"({"status":"available","truncated":false,"windows":[)"
      R"({"appName":"Notes\/笔记","bounds":{"height":720.3,"width":1280.75,"x":-0.5,"y":23.1},)"
      R"("id":"812:0","isFrontmost":true,"isMinimized":false,"pid":812,"title":"Plan\/计划 é"},)"
      R"({"appName":"Notes\/笔记","bounds":{"height":480.0,"width":640.0,"x":100.0,"y":200.0},)"
      R"("id":"812:1","isFrontmost":false,"isMinimized":true,"pid":812,"title":""},)"
      R"({"appName":"Viewer",)"
      R"("bounds":{"height":0.001,"width":0.30000000000000004,"x":0.1,"y":7.0},)"
      R"("id":"900:0","isFrontmost":false,"isMinimized":false,"pid":900,)"
      R"("title":"Doc \"one\""}]})");

  // The frames read back as the very numbers the windows reported.
  const Reply back = Reply::parse(*line);
  const Reply& bounds = back.at("windows").at(2).at("bounds");
  EXPECT_EQ(bounds.at("width").get<double>(), 0.1 + 0.2);
  EXPECT_EQ(bounds.at("x").get<double>(), 0.1);
  EXPECT_EQ(back.at("windows").at(0).at("bounds").at("y").get<double>(), 23.1);
}

TEST(ListWindows, WindowsSharingAnIdentityAreLeftOutAndFlagged) {
  const std::string precomposed = "Caf\xC3\xA9";
  const std::string decomposed = "Cafe\xCC\x81";
  struct Case {
    const char* what;
    std::function<void(const Node& first, const Node& second)> arrange;
    std::vector<std::string> ids;
    bool truncated;
  } cases[] = {
      {"same title, frame and state", [](const Node&, const Node&) {}, {"812:2", "900:0"}, true},
      {"both minimized",
       [](const Node& a, const Node& b) {
         a.minimized(true);
         b.minimized(true);
       },
       {"812:2", "900:0"},
       true},
      {"differ only in minimized state",
       [](const Node&, const Node& b) { b.minimized(true); },
       {"812:0", "812:1", "812:2", "900:0"},
       false},
      {"precomposed and decomposed title",
       [&](const Node& a, const Node& b) {
         a.title(precomposed);
         b.title(decomposed);
       },
       {"812:2", "900:0"},
       true},
      {"frames a hair apart",
       [](const Node&, const Node& b) {
         b.frame({10, 20, 300, 200.00000000000003});
       },
       {"812:0", "812:1", "812:2", "900:0"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    SimApp& app = desktop.addApp(812, "Notes");
    const Node first = app.addWindow("Same", {10, 20, 300, 200});
    const Node second = app.addWindow("Same", {10, 20, 300, 200});
    app.addWindow("Other", {10, 20, 300, 200});
    c.arrange(first, second);
    // Another application's window with the same identity is its own.
    desktop.addApp(900, "Viewer").addWindow("Same", {10, 20, 300, 200});
    desktop.setFrontmost(812);
    const Reply reply = test::listWindowsOn(desktop);
    EXPECT_EQ(idsOf(reply), c.ids);
    EXPECT_EQ(reply.at("truncated"), c.truncated);
  }
}

TEST(ListWindows, UnusableWindowsAndApplicationsAreLeftOutWithoutTheFlag) {
  SimDesktop desktop;
  SimApp& notes = desktop.addApp(100, "Notes");
  const std::vector<Node> windows = addWindows(notes, 5);
  windows[1].remove("AXSize");
  windows[2].title(std::string(4097, 't'));
  windows[3].frame({0, 0, 100, 0});
  desktop.addApp(200, "No windows");
  desktop.addApp(300, "Unreadable").node().failOp(Op::count, "AXWindows");
  addWindows(desktop.addApp(400, "Values fail"), 2);
  desktop.app(400).node().failOp(Op::readValues, "AXWindows");
  // Answers slower than the application time-out: its window list is unreadable.
  addWindows(desktop.addApp(500, "Hung"), 2);
  desktop.app(500).node().latency("AXWindows", 30);
  addWindows(desktop.addApp(600, "Last"), 1);
  const double start = desktop.clock;

  const Reply reply = test::listWindowsOn(desktop);
  EXPECT_EQ(idsOf(reply), (std::vector<std::string>{"100:0", "100:4", "600:0"}));
  EXPECT_EQ(reply.at("truncated"), false);
  EXPECT_LT(desktop.clock - start, 0.1) << "the hung application costs one time-out";
}

TEST(ListWindows, AnApplicationAboveTheWindowLimitContributesNothing) {
  SimDesktop desktop;
  const std::vector<Node> many = addWindows(desktop.addApp(100, "Many"), 81);
  addWindows(desktop.addApp(200, "Few"), 2);
  const Reply reply = test::listWindowsOn(desktop);
  EXPECT_EQ(idsOf(reply), (std::vector<std::string>{"200:0", "200:1"}));
  EXPECT_EQ(reply.at("truncated"), true);
  for (const Node& window : many) EXPECT_FALSE(desktop.touched(window));

  SimDesktop exact;
  addWindows(exact.addApp(100, "Many"), 80);
  const Reply full = test::listWindowsOn(exact);
  EXPECT_EQ(full.at("windows").size(), 80u);
  EXPECT_EQ(full.at("windows").back().at("id"), "100:79");
  EXPECT_EQ(full.at("truncated"), false);
}

TEST(ListWindows, StopsAtEightyEntries) {
  struct Case {
    const char* what;
    std::vector<int> windowsPerApp;  // applications with pids 100, 200, ...
    std::size_t entries;
    bool truncated;
    std::size_t enumerated;
  } cases[] = {
      {"80th entry is the last record of the last application", {50, 30}, 80, false, 2},
      {"an application without windows follows", {50, 30, 0}, 80, true, 2},
      {"an application with windows follows", {50, 30, 4}, 80, true, 2},
      {"the limit falls inside an application", {50, 31}, 80, true, 2},
      {"79 entries", {50, 29}, 79, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    std::vector<std::vector<Node>> windows;
    for (std::size_t i = 0; i < c.windowsPerApp.size(); ++i) {
      SimApp& app = desktop.addApp(static_cast<ProcessId>(100 * (i + 1)), "App");
      windows.push_back(addWindows(app, c.windowsPerApp[i]));
    }
    const Reply reply = test::listWindowsOn(desktop);
    ASSERT_EQ(reply.at("windows").size(), c.entries);
    EXPECT_EQ(reply.at("windows").at(49).at("id"), "100:49");
    EXPECT_EQ(reply.at("windows").at(50).at("id"), "200:0");
    EXPECT_EQ(reply.at("truncated"), c.truncated);
    EXPECT_EQ(desktop.callsOf(Op::createApplication).size(), c.enumerated)
        << "an application after a full listing is not looked at";
  }
}

TEST(ListWindows, DeadlineKeepsWhatWasListedAndSaysTruncated) {
  struct Case {
    const char* what;
    std::function<void(SimDesktop&)> arrange;
    std::vector<std::string> ids;
    std::vector<ProcessId> enumerated;
  } cases[] = {
      {"a window of the second application takes too long",
       [](SimDesktop& d) { d.app(200).windows()[1].latency("AXTitle", 2.0); },
       {"100:0", "100:1"},
       {100, 200}},
      {"the last window of the second application passes the deadline",
       [](SimDesktop& d) { d.app(200).windows()[2].latency("AXMinimized", 1.8); },
       {"100:0", "100:1"},
       {100, 200}},
      {"a window of the last application takes too long",
       [](SimDesktop& d) { d.app(300).windows()[0].latency("AXSize", 2.0); },
       {"100:0", "100:1", "200:0", "200:1", "200:2"},
       {100, 200, 300}},
      {"the deadline passes after the records, before the first entry",
       // The records end just before the deadline; reading the focused window then takes
       // the application's time-out and crosses it.
       [](SimDesktop& d) {
         d.setFrontmost(200);
         d.app(200).windows()[0].latency("AXTitle", 1.78);
         d.app(200).node().latency("AXFocusedWindow", 1.0);
       },
       {},
       {200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    addWindows(desktop.addApp(100, "First"), 2);
    addWindows(desktop.addApp(200, "Slow"), 3);
    addWindows(desktop.addApp(300, "Never"), 2);
    c.arrange(desktop);
    const Reply reply = test::listWindowsOn(desktop);
    EXPECT_EQ(reply.at("status"), "available");
    EXPECT_EQ(idsOf(reply), c.ids);
    EXPECT_EQ(reply.at("truncated"), true);
    EXPECT_EQ(enumeratedPids(desktop), c.enumerated);
  }
}

TEST(ListWindows, AWindowMayTakeUntilTheDeadlineButNoLongerThanThePlatformDefault) {
  // The application time-out (0.05 s) bounds the application's own requests only; a
  // window's request may take what is left of the listing's 1.8 s, up to the platform's
  // default time-out.
  struct Case {
    const char* what;
    double titleLatency;  // of the application's only window
    float platformDefault;
    std::vector<std::string> ids;
    bool truncated;
    double seconds;  // the listing's duration
  } cases[] = {
      {"a window that answers in 0.1 s is listed", 0.1, 6.0f, {"100:0"}, false, 0.1},
      {"one that answers in 1.7 s too", 1.7, 6.0f, {"100:0"}, false, 1.7},
      {"one that never answers holds the listing until its deadline", 30, 6.0f, {}, true, 1.8},
      {"a platform default shorter than the time left ends the wait: the window is left out",
       0.3,
       0.25f,
       {},
       false,
       0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    desktop.defaultTimeout = c.platformDefault;
    desktop.addApp(100, "Slow")
        .addWindow("Busy", {0, 0, 100, 100})
        .latency("AXTitle", c.titleLatency);
    const double start = desktop.clock;
    const Reply reply = test::listWindowsOn(desktop);
    EXPECT_EQ(idsOf(reply), c.ids);
    EXPECT_EQ(reply.at("truncated"), c.truncated);
    EXPECT_NEAR(desktop.clock - start, c.seconds, 1e-6);
    EXPECT_EQ(test::overrunProblem(desktop.clock - start, test::windowListBound()), "");
  }
}

}  // namespace
}  // namespace nevo
