#include "platform/linux/window_match.h"

#include <gtest/gtest.h>

namespace nevo::lin {
namespace {

ClientWindow client(xcb_window_t id, std::string title, ScreenRect frame, ScreenRect inner) {
  ClientWindow c;
  c.id = id;
  c.title = std::move(title);
  c.frame = frame;
  c.client = inner;
  return c;
}

TEST(WindowMatch, PairsByTitleAndRectangleThenByWhatIsLeft) {
  const ScreenRect a{0, 0, 800, 600}, aInner{0, 24, 800, 576};
  const ScreenRect b{100, 100, 400, 300}, bInner{100, 124, 400, 276};
  const ScreenRect c{500, 50, 300, 200};
  struct Case {
    const char* what;
    std::vector<AccessibleWindow> windows;
    std::vector<ClientWindow> clients;
    std::vector<std::optional<std::size_t>> expected;
  };
  const Case cases[] = {
      {"title and frame (decorated)",
       {{"Doc", a}, {"Find", b}},
       {client(1, "Find", b, bInner), client(2, "Doc", a, aInner)},
       {1, 0}},
      {"rectangle of the client itself (drawn by the application)",
       {{"", aInner}},
       {client(1, "Files", a, aInner)},
       {0}},
      {"same title twice: the rectangles decide",
       {{"Untitled", b}, {"Untitled", a}},
       {client(1, "Untitled", a, aInner), client(2, "Untitled", b, bInner)},
       {1, 0}},
      {"a rectangle two clients share does not decide, the title does",
       {{"Two", c}},
       {client(1, "One", c, c), client(2, "Two", c, c)},
       {1}},
      {"no title or rectangle in common, one of each: paired",
       {{"Old title", std::nullopt}},
       {client(1, "New title", a, aInner)},
       {0}},
      {"no title or rectangle in common, two of each: none",
       {{"x", std::nullopt}, {"y", std::nullopt}},
       {client(1, "p", a, aInner), client(2, "q", b, bInner)},
       {std::nullopt, std::nullopt}},
      {"more windows than clients",
       {{"Doc", a}, {"Menu", c}},
       {client(1, "Doc", a, aInner)},
       {0, std::nullopt}},
      {"no client at all", {{"Doc", a}}, {}, {std::nullopt}},
      {"frames that no client window shows (Chromium's) stay unpaired, so are not listed",
       {{"Page - Chromium", a},
        {"", ScreenRect{113, 35, 880, 88}},
        {"", ScreenRect{113, 35, 880, 89}}},
       {client(1, "Page - Chromium", a, aInner)},
       {0, std::nullopt, std::nullopt}},
      {"extents relative to the window, same title twice: the client's size decides",
       {{"Same", ScreenRect{0, 0, 400, 276}}, {"Same", ScreenRect{0, 0, 800, 576}}},
       {client(1, "Same", a, aInner), client(2, "Same", b, bInner)},
       {1, 0}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    EXPECT_EQ(matchWindows(test.windows, test.clients), test.expected);
  }
}

// A window whose accessible extents are at (0, 0): where its coordinates start, as measured
// with gtk4-widget-factory (it draws its own 5-pixel border inside a 1600 x 868 client
// window at (0, 66), and reads 1590 x 858; its controls are drawn 5 pixels further in than
// their extents say, relative to the client window).
TEST(WindowMatch, WhereWindowRelativeCoordinatesStart) {
  ClientWindow drawn = client(1, "GTK Widget Factory", {0, 66, 1600, 868}, {0, 66, 1600, 868});
  ClientWindow saying = drawn;
  saying.drawnFrame = Insets{20, 20, 14, 26};  // a shadow deeper below than above
  const ClientWindow framed = client(2, "Calculator", {600, 240, 355, 510}, {617, 264, 355, 486});
  struct Case {
    const char* what;
    double width, height;
    const ClientWindow& shown;
    bool windowRelativeToolkit;
    std::optional<ScreenPoint> expected;
  };
  const Case cases[] = {
      {"the client window's size, any toolkit", 355, 486, framed, false, ScreenPoint{617, 264}},
      {"smaller, a toolkit with screen coordinates: really at (0, 0)", 1590, 858, drawn, false,
       std::nullopt},
      {"smaller, its own border: half the difference in", 1590, 858, drawn, true,
       ScreenPoint{5, 71}},
      {"smaller, the frame it says it draws", 1560, 828, saying, true, ScreenPoint{20, 80}},
      {"larger than the client window: not relative to it", 1700, 900, drawn, true,
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<ScreenPoint> start =
        windowRelativeOrigin(c.width, c.height, c.shown, c.windowRelativeToolkit);
    ASSERT_EQ(start.has_value(), c.expected.has_value());
    if (start) {
      EXPECT_EQ(start->x, c.expected->x);
      EXPECT_EQ(start->y, c.expected->y);
    }
  }
}

}  // namespace
}  // namespace nevo::lin
