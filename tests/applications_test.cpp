#include "windows/applications.h"

#include <gtest/gtest.h>

#include <functional>

#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimApp;
using sim::SimDesktop;

constexpr int kAccessoryPolicy = 1;
constexpr int kProhibitedPolicy = 2;

std::string repeated(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += unit;
  return s;
}

std::vector<ProcessId> pidsOf(const std::vector<RunningApplication>& applications) {
  std::vector<ProcessId> pids;
  for (const RunningApplication& a : applications) pids.push_back(a.processIdentifier);
  return pids;
}

TEST(OrdinaryApplication, OnlyRegularRunningApplicationsOtherThanThisTool) {
  SimDesktop desktop;
  desktop.ownPid = 4242;
  struct Case {
    const char* what;
    ProcessId pid;
    int policy;
    bool terminated;
    bool ordinary;
  } cases[] = {
      {"regular and running", 812, kActivationPolicyRegular, false, true},
      {"accessory", 813, kAccessoryPolicy, false, false},
      {"background only", 814, kProhibitedPolicy, false, false},
      {"terminated", 815, kActivationPolicyRegular, true, false},
      {"this tool", 4242, kActivationPolicyRegular, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    desktop.addApp(c.pid, "App").policy(c.policy).terminated(c.terminated);
    const auto application = desktop.runningApplication(c.pid);
    ASSERT_TRUE(application.has_value());
    EXPECT_EQ(ordinaryApplication(desktop, *application), c.ordinary);
  }
}

TEST(ApplicationName, CutsToThreeHundredCharactersAtClusterBoundaries) {
  const std::string acute = "e\xCC\x81";  // e followed by a combining acute accent
  struct Case {
    const char* what;
    std::optional<std::string> name;
    std::string expected;
  } cases[] = {
      {"no name", std::nullopt, ""},
      {"empty name", std::string(), ""},
      {"300 characters", std::string(300, 'a'), std::string(300, 'a')},
      {"301 characters", std::string(301, 'a'), std::string(300, 'a')},
      {"combined character at the cut", std::string(299, 'a') + acute + "b",
       std::string(299, 'a') + acute},
      {"name of combined characters", repeated(acute, 301), repeated(acute, 300)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunningApplication application;
    application.localizedName = c.name;
    EXPECT_EQ(applicationName(application), c.expected);
  }
}

TEST(ApplicationOrder, FrontmostOrdinaryApplicationFirstThenAscendingPids) {
  SimDesktop desktop;
  desktop.ownPid = 300;
  desktop.addApp(2000, "Late");
  desktop.addApp(900, "Front");
  desktop.addApp(100, "Early");
  desktop.addApp(50, "Menu extra").policy(kAccessoryPolicy);
  desktop.addApp(60, "Quit").terminated(true);
  desktop.addApp(300, "This tool");
  desktop.addApp(150, "Daemon").policy(kProhibitedPolicy);

  struct Case {
    const char* what;
    std::optional<ProcessId> frontmost;
    std::vector<ProcessId> order;
  } cases[] = {
      {"frontmost ordinary", 900, {900, 100, 2000}},
      {"no frontmost application", std::nullopt, {100, 900, 2000}},
      {"frontmost is an accessory", 50, {100, 900, 2000}},
      {"frontmost is this tool", 300, {100, 900, 2000}},
      {"frontmost has the lowest pid", 100, {100, 900, 2000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    desktop.setFrontmost(c.frontmost);
    const std::optional<ProcessId> frontmost = frontmostProcessIdentifier(desktop);
    EXPECT_EQ(frontmost, c.frontmost);
    EXPECT_EQ(pidsOf(ordinaryApplicationsInOrder(desktop, frontmost)), c.order);
  }
}

TEST(ApplicationElement, SetsTheShortTimeOutBeforeAnyRead) {
  SimDesktop desktop;
  SimApp& app = desktop.addApp(812, "Notes");
  app.addWindow("A", {0, 0, 100, 100});
  // An application that answers slower than the time-out is unreadable, not a stall.
  app.node().latency("AXWindows", 0.06);
  const double start = desktop.clock;
  const Element element = applicationElement(desktop, 812);
  ASSERT_EQ(desktop.calls().size(), 2u);
  EXPECT_EQ(desktop.calls()[0].op, Op::createApplication);
  EXPECT_EQ(desktop.calls()[0].number, 812);
  EXPECT_EQ(desktop.calls()[1].op, Op::setTimeout);
  EXPECT_EQ(desktop.calls()[1].node, app.node().id());
  EXPECT_EQ(desktop.calls()[1].number, static_cast<double>(0.05f));

  const WindowList list = windowArray(desktop, element);
  EXPECT_TRUE(list.windows.empty());
  EXPECT_FALSE(list.truncated);
  EXPECT_NEAR(desktop.clock - start, 0.05, 1e-6);
}

class WindowArrayTest : public ::testing::Test {
 protected:
  void addWindows(int n) {
    for (int i = 0; i < n; ++i) {
      windows.push_back(app.addWindow("W" + std::to_string(i), {double(i), 0, 100, 100}));
    }
  }
  WindowList fetch(long limit = kWindowLimit) {
    return windowArray(desktop, applicationElement(desktop, 812), limit);
  }
  // Whether the list holds the first windows of the application, in its order.
  void expectFirstWindows(const WindowList& list, std::size_t n) {
    ASSERT_EQ(list.windows.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(list.windows[i].has_value());
      EXPECT_TRUE(*list.windows[i] == windows[i].element()) << "position " << i;
    }
  }

  SimDesktop desktop;
  SimApp& app = desktop.addApp(812, "Notes");
  std::vector<Node> windows;
};

TEST_F(WindowArrayTest, EightyWindowsAreCompleteEightyOneAreCut) {
  addWindows(80);
  WindowList list = fetch();
  expectFirstWindows(list, 80);
  EXPECT_FALSE(list.truncated);

  addWindows(1);
  desktop.clearCalls();
  list = fetch();
  expectFirstWindows(list, 80);
  EXPECT_TRUE(list.truncated);
  const auto asked = desktop.callsOf(Op::readValues);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].number, 80) << "no more values are fetched than the limit";
}

TEST_F(WindowArrayTest, HonoursASmallerLimit) {
  addWindows(3);
  WindowList list = fetch(2);
  expectFirstWindows(list, 2);
  EXPECT_TRUE(list.truncated);
  list = fetch(3);
  expectFirstWindows(list, 3);
  EXPECT_FALSE(list.truncated);
}

TEST_F(WindowArrayTest, TheFlagComesFromTheReportedCount) {
  addWindows(3);
  app.node().reportCount("AXWindows", 81);
  const WindowList list = fetch();
  expectFirstWindows(list, 3);
  EXPECT_TRUE(list.truncated);
}

TEST_F(WindowArrayTest, TakesNoMoreWindowsThanItAskedFor) {
  addWindows(85);
  app.node().reportCount("AXWindows", 80);
  desktop.ignoresMaxCount = true;  // the interface hands out all 85 anyway
  const WindowList list = fetch();
  expectFirstWindows(list, 80);
  EXPECT_FALSE(list.truncated);
}

TEST(WindowArray, UnreadableListsAreEmptyAndComplete) {
  struct Case {
    const char* what;
    int windows;
    std::function<void(const Node&)> arrange;
    bool valuesRequested;
  } cases[] = {
      {"no windows", 0, [](const Node&) {}, false},
      {"count of zero reported", 2, [](const Node& a) { a.reportCount("AXWindows", 0); }, false},
      {"negative count reported", 2, [](const Node& a) { a.reportCount("AXWindows", -1); }, false},
      {"count fails", 2, [](const Node& a) { a.failOp(Op::count, "AXWindows"); }, false},
      {"values fail", 2, [](const Node& a) { a.failOp(Op::readValues, "AXWindows"); }, true},
      {"values fail above the limit", 2,
       [](const Node& a) { a.reportCount("AXWindows", 200).failOp(Op::readValues, "AXWindows"); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    SimApp& app = desktop.addApp(812, "Notes");
    for (int i = 0; i < c.windows; ++i) app.addWindow("A", {double(i), 0, 100, 100});
    c.arrange(app.node());
    const WindowList list = windowArray(desktop, applicationElement(desktop, 812));
    EXPECT_TRUE(list.windows.empty());
    EXPECT_FALSE(list.truncated);
    EXPECT_EQ(desktop.callsOf(Op::readValues).size(), c.valuesRequested ? 1u : 0u);
  }
}

}  // namespace
}  // namespace nevo
