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

}  // namespace
}  // namespace nevo::lin
