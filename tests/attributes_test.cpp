#include "platform/attributes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimDesktop;

class AttributesTest : public ::testing::Test {
 protected:
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  Node window = app.addWindow("Notes", {0, 0, 800, 600});
  Node field = window.add("AXTextField");
};

TEST_F(AttributesTest, AttributeIsAbsentWhenTheReadFails) {
  field.set("AXTitle", std::string("x")).fail("AXTitle");
  EXPECT_TRUE(attribute(desktop, field.element(), "AXTitle").absent());
  EXPECT_TRUE(attribute(desktop, field.element(), "AXNoSuchThing").absent());
  field.set("AXValue", Absent{});
  EXPECT_TRUE(attribute(desktop, field.element(), "AXValue").absent());
}

TEST_F(AttributesTest, AxElementAcceptsOnlyElements) {
  EXPECT_TRUE(axElement(attribute(desktop, field.element(), "AXParent")).has_value());
  EXPECT_TRUE(*axElement(attribute(desktop, field.element(), "AXParent")) == window.element());
  EXPECT_FALSE(axElement(AttrValue(std::string("AXWindow"))).has_value());
  EXPECT_FALSE(axElement(AttrValue(ArrayValue{window.element()})).has_value());
  EXPECT_FALSE(axElement(AttrValue(Absent{})).has_value());
}

TEST_F(AttributesTest, TextCutsStringsAndWritesNumbersAndBooleans) {
  const std::string family =
      "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  std::string emoji;
  for (int i = 0; i < 300; ++i) emoji += family;
  struct Case {
    const char* what;
    AttrValue value;
    std::string expected;
  } cases[] = {
      {"301 characters", std::string(301, 'a'), std::string(300, 'a')},
      {"300 multi-code-point emoji", emoji, emoji},
      {"blanks and line breaks", std::string("  two\nlines \t"), "  two\nlines \t"},
      {"integer number", sim::number(3), "3"},
      {"fraction, never cut", sim::number(0.1), "0.1"},
      {"boolean true", true, "1"},
      {"boolean false", false, "0"},
      {"element", window.element(), ""},
      {"array", ArrayValue{std::string("a")}, ""},
      {"point", PointValue{1, 2}, ""},
      {"other", OtherValue{"range"}, ""},
      {"absent value", Absent{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    field.value(c.value);
    EXPECT_EQ(text(desktop, field.element(), "AXValue"), c.expected);
  }
  field.fail("AXValue");
  EXPECT_EQ(text(desktop, field.element(), "AXValue"), "");
}

TEST_F(AttributesTest, BoundsReadsPositionAndSizeInOneRequest) {
  field.frame({10.5, -20.25, 0, 30});
  const auto frame = bounds(desktop, field.element());
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->x, 10.5);
  EXPECT_EQ(frame->y, -20.25);
  EXPECT_EQ(frame->width, 0);  // zero sizes are for callers to reject
  EXPECT_EQ(frame->height, 30);
  EXPECT_EQ(desktop.readsOf(field), (std::vector<std::string>{"AXPosition", "AXSize"}));
  EXPECT_EQ(desktop.callsOf(sim::Op::readBatch).size(), 1u);
}

TEST_F(AttributesTest, BoundsIsAbsentForUnusableFrames) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    AttrValue position;
    AttrValue size;
  } cases[] = {
      {"NaN width", PointValue{0, 0}, SizeValue{nan, 10}},
      {"infinite y", PointValue{0, inf}, SizeValue{10, 10}},
      {"size wrapper as position", SizeValue{1, 2}, SizeValue{10, 10}},
      {"point wrapper as size", PointValue{0, 0}, PointValue{10, 10}},
      {"number as position", sim::number(1), SizeValue{10, 10}},
      {"absent size value", PointValue{0, 0}, Absent{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    field.set("AXPosition", c.position).set("AXSize", c.size);
    EXPECT_FALSE(bounds(desktop, field.element()).has_value());
  }
  field.frame({1, 2, 3, 4}).remove("AXSize");
  EXPECT_FALSE(bounds(desktop, field.element()).has_value());
}

TEST_F(AttributesTest, BatchKeepsEachAttributesOwnFailure) {
  field.title("Name").frame({1, 2, 3, 4}).fail("AXValue");
  static constexpr std::string_view kNames[] = {"AXTitle", "AXValue", "AXNoSuchThing", "AXSize"};
  const std::vector<AttrValue> values = attributes(desktop, field.element(), kNames);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(text(values[0]), "Name");
  EXPECT_TRUE(values[1].absent());
  EXPECT_TRUE(values[2].absent());
  ASSERT_NE(values[3].get<SizeValue>(), nullptr);
  EXPECT_EQ(values[3].get<SizeValue>()->width, 3);
  EXPECT_EQ(desktop.callsOf(sim::Op::readBatch).size(), 1u);
  EXPECT_EQ(desktop.callsOf(sim::Op::read).size(), 0u);
}

TEST_F(AttributesTest, BatchThatTimesOutFailsEveryAttributeAtTheCostOfOneTimeOut) {
  field.title("Name").frame({1, 2, 3, 4}).latency("AXSize", 0.5);
  const Element element = field.element();
  desktop.setMessagingTimeout(element, 0.2f);
  const double start = desktop.clock;
  static constexpr std::string_view kNames[] = {"AXTitle", "AXPosition", "AXSize"};
  const std::vector<AttrValue> values = attributes(desktop, element, kNames);
  ASSERT_EQ(values.size(), 3u);
  for (const AttrValue& value : values) EXPECT_TRUE(value.absent());
  EXPECT_DOUBLE_EQ(desktop.clock - start, 0.2f);
  EXPECT_FALSE(bounds(desktop, element).has_value());
}

TEST_F(AttributesTest, ValuesAlreadyReadFollowTheSameRules) {
  EXPECT_EQ(text(AttrValue(std::string(301, 'x'))), std::string(300, 'x'));
  EXPECT_EQ(text(AttrValue(true)), "1");
  EXPECT_EQ(text(AttrValue(sim::number(0.5))), "0.5");
  EXPECT_EQ(text(AttrValue(PointValue{1, 2})), "");
  EXPECT_EQ(booleanValue(AttrValue(false)), false);
  EXPECT_EQ(booleanValue(AttrValue(sim::number(1))), std::nullopt);
  EXPECT_FALSE(bounds(AttrValue(PointValue{0, 0}), AttrValue()).has_value());
  const auto frame = bounds(AttrValue(PointValue{-1, 2}), AttrValue(SizeValue{3, -4}));
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->height, -4);
}

TEST_F(AttributesTest, BoundRequestsGivesTheTimeLeftUpToThePlatformDefault) {
  struct Case {
    const char* what;
    double left;  // until the deadline
    float platformDefault;
    bool bounded;
    double timeout;  // the element's, when bounded
  } cases[] = {
      {"less left than the default", 1.25, 6.0f, true, 1.25},
      {"more left than the default", 10, 6.0f, true, 6.0},
      // The single-precision value nearest to 0.7 is below it: the next one above is taken.
      {"a time left between two single-precision values", 0.7, 6.0f, true,
       static_cast<double>(std::nextafter(0.7f, 1.0f))},
      {"less left than the smallest single-precision value", 1e-300, 6.0f, true,
       static_cast<double>(std::numeric_limits<float>::denorm_min())},
      {"the deadline is now", 0, 6.0f, false, 0},
      {"the deadline has passed", -1, 6.0f, false, 0},
      {"a platform without a default", 1, 0.0f, false, 0},
  };
  // At 0 the smallest times left can be told from the clock.
  desktop.clock = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    desktop.defaultTimeout = c.platformDefault;
    desktop.clearCalls();
    const double deadline = desktop.clock + c.left;
    EXPECT_EQ(boundRequests(desktop, window.element(), deadline), c.bounded);
    const auto set = desktop.callsOf(Op::setTimeout);
    if (!c.bounded) {
      EXPECT_TRUE(set.empty());
      continue;
    }
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].node, window.id());
    EXPECT_EQ(set[0].number, c.timeout);
    if (c.left < static_cast<double>(c.platformDefault)) {
      EXPECT_GE(desktop.clock + set[0].number, deadline) << "a request cut off ends at it";
    }
  }
  // The bound is the element object's own: another reference to the window keeps none.
  window.latency("AXTitle", 30);
  desktop.defaultTimeout = 6.0f;
  const Element bounded = window.element();
  ASSERT_TRUE(boundRequests(desktop, bounded, desktop.clock + 0.5));
  const double start = desktop.clock;
  EXPECT_TRUE(attribute(desktop, bounded, "AXTitle").absent());
  EXPECT_DOUBLE_EQ(desktop.clock - start, 0.5);
  EXPECT_TRUE(attribute(desktop, window.element(), "AXTitle").absent());
  EXPECT_DOUBLE_EQ(desktop.clock - start, 6.5);
}

TEST(Rect, WritesMagnitudesOfTheSizeAndTheOriginAsStored) {
  EXPECT_EQ(rect({10, 20, -30, 40}).dump(), R"({"height":40.0,"width":30.0,"x":10.0,"y":20.0})");
  EXPECT_EQ(rect({-0.5, 1e-7, 3, -4}).dump(), R"({"height":4.0,"width":3.0,"x":-0.5,"y":1e-07})");
}

TEST(Rect, EqualityIsExact) {
  EXPECT_TRUE(rectsEqual({0.1, 0.2, 100, 50}, {0.1, 0.2, 100, 50}));
  EXPECT_FALSE(rectsEqual({0.1, 0.2, 100, 50}, {std::nextafter(0.1, 1.0), 0.2, 100, 50}));
  EXPECT_FALSE(rectsEqual({0, 0, 100, 50}, {0, 0, 100, 51}));
  // As the platform compares them: rectangles taken as standardised.
  EXPECT_TRUE(rectsEqual({10, 10, -5, 5}, {5, 10, 5, 5}));
}

TEST_F(AttributesTest, AnElementBuiltFromNothingEqualsNothingAndFailsEveryRequest) {
  const Element nothing(nullptr);
  EXPECT_FALSE(nothing == nothing);
  EXPECT_FALSE(nothing == window.element());
  EXPECT_FALSE(window.element() == nothing);
  EXPECT_TRUE(attribute(desktop, nothing, "AXTitle").absent());
  EXPECT_FALSE(bounds(desktop, nothing).has_value());
  EXPECT_EQ(desktop.getAttributeValueCount(nothing, "AXChildren").status,
            AxStatus::invalidElement);

  // A moved-from element still refers to its object.
  Element original = window.element();
  const Element taken = std::move(original);
  EXPECT_TRUE(original == taken);  // NOLINT(bugprone-use-after-move): the point of the test
}

TEST(SimDesktopTest, NamingAnApplicationThatIsNotThereFailsTheTest) {
  SimDesktop desktop;
  desktop.addApp(812, "Notes");
  EXPECT_NO_THROW(desktop.app(812));
  EXPECT_THROW(desktop.app(813), std::invalid_argument);
}

}  // namespace
}  // namespace nevo
