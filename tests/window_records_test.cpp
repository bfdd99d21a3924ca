#include "windows/window_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimApp;
using sim::SimDesktop;

const std::string kPrecomposed = "Caf\xC3\xA9";  // é as one code point
const std::string kDecomposed = "Cafe\xCC\x81";  // e and a combining acute accent

std::string repeated(const std::string& unit, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += unit;
  return s;
}

TEST(WindowIdentity, EqualityOfTitleFrameAndMinimizedState) {
  const WindowIdentity base{kPrecomposed, {10.5, 20, 800, 600}, false};
  const double up = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    WindowIdentity other;
    bool equal;
  } cases[] = {
      {"same", base, true},
      {"decomposed title", WindowIdentity{kDecomposed, base.frame(), false}, true},
      {"other title", WindowIdentity{"Cafe", base.frame(), false}, false},
      {"title with a trailing blank", WindowIdentity{kPrecomposed + " ", base.frame(), false}, false},
      {"minimized", WindowIdentity{kPrecomposed, base.frame(), true}, false},
      {"x one step away", WindowIdentity{kPrecomposed, {std::nextafter(10.5, up), 20, 800, 600}, false}, false},
      {"y one step away", WindowIdentity{kPrecomposed, {10.5, std::nextafter(20.0, up), 800, 600}, false}, false},
      {"width one step away",
       WindowIdentity{kPrecomposed, {10.5, 20, std::nextafter(800.0, up), 600}, false},
       false},
      {"height one step away",
       WindowIdentity{kPrecomposed, {10.5, 20, 800, std::nextafter(600.0, -up)}, false},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(base == c.other, c.equal);
    EXPECT_EQ(c.other == base, c.equal);
  }
}

class WindowRecordsTest : public ::testing::Test {
 protected:
  std::vector<std::optional<Element>> elements() const {
    std::vector<std::optional<Element>> list;
    for (const Node& window : app.windows()) list.emplace_back(window.element());
    return list;
  }
  std::optional<std::vector<WindowRecord>> records(double secondsLeft = 1.8) {
    return windowRecords(desktop, elements(), desktop.clock + secondsLeft);
  }

  SimDesktop desktop;
  SimApp& app = desktop.addApp(812, "Notes");
};

TEST_F(WindowRecordsTest, KeepsUsableWindowsWithTheirListPositions) {
  const std::string longest = repeated("e\xCC\x81", 4096);  // 4096 characters, 8192 code points
  const std::vector<std::string> all = {"AXTitle", "AXPosition", "AXSize", "AXMinimized"};
  struct Case {
    const char* what;
    std::function<void(const Node&)> arrange;
    std::vector<std::string> reads;          // in this order, and nothing else
    std::optional<WindowIdentity> identity;  // absent when the window is left out
  } cases[] = {
      {"plain", [](const Node&) {}, all, WindowIdentity{"W", {1, 2, 3, 4}, false}},
      {"no title", [](const Node& w) { w.remove("AXTitle"); }, all,
       WindowIdentity{"", {1, 2, 3, 4}, false}},
      {"title that is not a string", [](const Node& w) { w.set("AXTitle", sim::number(7)); }, all,
       WindowIdentity{"", {1, 2, 3, 4}, false}},
      {"unreadable title", [](const Node& w) { w.fail("AXTitle"); }, all,
       WindowIdentity{"", {1, 2, 3, 4}, false}},
      {"4096-character title", [&](const Node& w) { w.title(longest); }, all,
       WindowIdentity{longest, {1, 2, 3, 4}, false}},
      {"4097-character title",
       [](const Node& w) { w.title(std::string(4097, 'a')); },
       all,
       std::nullopt},
      {"minimized", [](const Node& w) { w.minimized(true); }, all,
       WindowIdentity{"W", {1, 2, 3, 4}, true}},
      {"minimized state missing", [](const Node& w) { w.remove("AXMinimized"); }, all,
       WindowIdentity{"W", {1, 2, 3, 4}, false}},
      {"minimized state not a boolean", [](const Node& w) { w.set("AXMinimized", sim::number(1)); },
       all, WindowIdentity{"W", {1, 2, 3, 4}, false}},
      {"no position",
       [](const Node& w) { w.remove("AXPosition"); },
       all,
       std::nullopt},
      {"no size",
       [](const Node& w) { w.remove("AXSize"); },
       all,
       std::nullopt},
      {"zero width",
       [](const Node& w) {
         w.frame({1, 2, 0, 4});
       },
       all,
       std::nullopt},
      {"zero height",
       [](const Node& w) {
         w.frame({1, 2, 3, 0});
       },
       all,
       std::nullopt},
      {"non-finite size",
       [](const Node& w) {
         w.frame({1, 2, std::numeric_limits<double>::quiet_NaN(), 4});
       },
       all,
       std::nullopt},
      {"negative size counts by its magnitude",
       [](const Node& w) {
         w.frame({1, 2, -3, 4});
       },
       all, WindowIdentity{"W", {1, 2, -3, 4}, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop d;
    SimApp& a = d.addApp(812, "Notes");
    const Node first = a.addWindow("First", {0, 0, 10, 10});
    const Node window = a.addWindow("W", {1, 2, 3, 4});
    const Node last = a.addWindow("Last", {5, 5, 10, 10});
    c.arrange(window);
    const std::vector<std::optional<Element>> list = {first.element(), window.element(),
                                                      last.element()};
    const auto result = windowRecords(d, list, d.clock + 1.8);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(d.readsOf(window), c.reads);
    EXPECT_EQ(d.axRequests(), 3u) << "one request for each window";
    ASSERT_EQ(result->size(), c.identity ? 3u : 2u);
    EXPECT_EQ(result->front().index(), 0);
    EXPECT_EQ(result->back().index(), 2) << "the window after keeps its own position";
    EXPECT_TRUE(result->back().element() == last.element());
    if (c.identity) {
      const WindowRecord& record = (*result)[1];
      EXPECT_EQ(record.index(), 1);
      EXPECT_TRUE(record.element() == window.element());
      EXPECT_EQ(record.identity().title(), c.identity->title()) << "titles are never cut or changed";
      EXPECT_TRUE(record.identity() == *c.identity);
    }
  }
}

TEST_F(WindowRecordsTest, WindowTitleIsAbsentOnlyAboveTheLimit) {
  const Node window = app.addWindow("", {0, 0, 10, 10});
  const std::string flags = repeated("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 4096);  // flag pairs
  struct Case {
    const char* what;
    AttrValue title;
    std::optional<std::string> expected;
  } cases[] = {
      {"empty", std::string(), ""},
      {"blanks kept", std::string("  a\tb  "), "  a\tb  "},
      {"4096 characters", std::string(4096, 'x'), std::string(4096, 'x')},
      {"4096 multi-code-point characters", flags, flags},
      {"4097 characters", std::string(4097, 'x'), std::nullopt},
      {"4097 multi-code-point characters", flags + "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7",
       std::nullopt},
      {"boolean", true, ""},
      {"element", window.element(), ""},
      {"absent value", Absent{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window.set("AXTitle", c.title);
    EXPECT_EQ(windowTitle(desktop, window.element()), c.expected);
  }
  window.fail("AXTitle");
  EXPECT_EQ(windowTitle(desktop, window.element()), "");
}

TEST_F(WindowRecordsTest, PositionsWithoutAnElementStillCount) {
  const Node window = app.addWindow("W", {0, 0, 10, 10});
  const auto result = windowRecords(desktop, {std::nullopt, window.element()}, desktop.clock + 1);
  ASSERT_TRUE(result.has_value());
  ASSERT_EQ(result->size(), 1u);
  EXPECT_EQ(result->front().index(), 1);
}

TEST_F(WindowRecordsTest, EmptyListBeforeAndAfterTheDeadline) {
  const auto before = windowRecords(desktop, {}, desktop.clock + 0.001);
  ASSERT_TRUE(before.has_value());
  EXPECT_TRUE(before->empty());
  EXPECT_FALSE(windowRecords(desktop, {}, desktop.clock).has_value())
      << "a deadline equal to now has passed";
  EXPECT_FALSE(windowRecords(desktop, {}, desktop.clock - 1).has_value());
}

TEST_F(WindowRecordsTest, DeadlinePassingDuringAWindowDropsEveryRecord) {
  std::vector<Node> windows;
  for (int i = 0; i < 7; ++i) {
    windows.push_back(app.addWindow("W" + std::to_string(i), {double(i), 0, 10, 10}));
  }
  // Each case makes the reads of one window run past the deadline.
  struct Case {
    const char* what;
    std::size_t windowCount;
    std::size_t slow;
    const char* attribute;
  } cases[] = {
      {"fifth and last window, title", 5, 4, "AXTitle"},
      {"fifth and last window, minimized state", 5, 4, "AXMinimized"},
      {"fifth of seven windows", 7, 4, "AXSize"},
      {"first window", 7, 0, "AXPosition"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    windows[c.slow].latency(c.attribute, 2.0);
    desktop.clearCalls();
    std::vector<std::optional<Element>> list;
    for (std::size_t i = 0; i < c.windowCount; ++i) list.emplace_back(windows[i].element());
    EXPECT_FALSE(windowRecords(desktop, list, desktop.clock + 1.8).has_value());
    // The window in progress is read to its end; no window after it is touched.
    EXPECT_TRUE(desktop.wasRead(windows[c.slow], "AXMinimized"));
    for (std::size_t i = c.slow + 1; i < windows.size(); ++i) {
      EXPECT_FALSE(desktop.touched(windows[i])) << "window " << i;
    }
    windows[c.slow].latency(c.attribute, 0);
  }
  // With the deadline still ahead after the last window, every record is there.
  windows[6].latency("AXMinimized", 1.7);
  const auto result = records(1.8);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->size(), 7u);
}

TEST(FocusedWindow, OnlyAnElementCounts) {
  SimDesktop desktop;
  SimApp& app = desktop.addApp(812, "Notes");
  const Node window = app.addWindow("W", {0, 0, 10, 10});
  const Element element = app.node().element();

  EXPECT_FALSE(focusedWindow(desktop, element).has_value());
  app.focusWindow(window);
  ASSERT_TRUE(focusedWindow(desktop, element).has_value());
  EXPECT_TRUE(*focusedWindow(desktop, element) == window.element());
  app.node().set("AXFocusedWindow", std::string("W"));
  EXPECT_FALSE(focusedWindow(desktop, element).has_value());
  app.focusWindow(window).node().fail("AXFocusedWindow");
  EXPECT_FALSE(focusedWindow(desktop, element).has_value());
}

TEST(WindowEntryId, ProcessAndIndexInDecimal) {
  EXPECT_EQ(windowEntryId(812, 0), "812:0");
  EXPECT_EQ(windowEntryId(812, 2), "812:2");
  EXPECT_EQ(windowEntryId(2147483647, 79), "2147483647:79");
}

}  // namespace
}  // namespace nevo
