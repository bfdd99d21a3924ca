// Ownership (CfRef, AxElement) and the conversion of accessibility values.
#include "platform/macos/ax_values.h"

#include <gtest/gtest.h>

#include "commands.h"
#include "fake_macos.h"
#include "sim_desktop.h"

namespace nevo::macos {
namespace {

TEST(CfRef, AdoptTakesOverRetainTakesItsOwnAndEachReleasesOnce) {
  CFStringRef string = fake::makeString(u"x");
  {
    const CfRef lent = CfRef::retain(string);
    EXPECT_EQ(fake::referenceCount(string), 2);
    CfRef owner = CfRef::adopt(string);  // the reference makeString gave us
    EXPECT_EQ(fake::referenceCount(string), 2);
    CfRef moved = std::move(owner);
    EXPECT_FALSE(owner);
    EXPECT_EQ(moved.get(), string);
    EXPECT_EQ(fake::referenceCount(string), 2);
    CfRef assigned = CfRef::adopt(fake::makeString(u"y"));
    assigned = std::move(moved);  // releases "y", takes over the string
    EXPECT_EQ(fake::liveObjects(), 1u);
    EXPECT_EQ(fake::referenceCount(string), 2);
  }
  EXPECT_EQ(fake::liveObjects(), 0u);
  // Null holders release nothing (CFRelease of NULL would abort the test).
  const CfRef none = CfRef::adopt(nullptr);
  const CfRef noneRetained = CfRef::retain(nullptr);
  EXPECT_FALSE(none);
  EXPECT_FALSE(noneRetained);
}

class AxValues : public ::testing::Test {
 protected:
  sim::SimDesktop desktop;
  sim::Node window = desktop.addApp(812, "Notes").addWindow("Notes", {0, 0, 800, 600});

  // A fake element object for a window of the desktop, one reference for the caller.
  CFTypeRef elementOf(const sim::Node& node) {
    desktop.app(812).focusWindow(node);
    Platform& platform = test::platformUnderTest(desktop);
    const AttributeRead read =
        platform.copyAttributeValue(platform.createApplicationElement(812), "AXFocusedWindow");
    EXPECT_NE(read.value.get<Element>(), nullptr);
    return CFRetain(axRef(*read.value.get<Element>()));
  }
};

TEST_F(AxValues, ElementsHoldTheirReferenceUntilTheLastCopyGoes) {
  CFTypeRef object = elementOf(window);
  std::optional<Element> copy;
  {
    const AttrValue value = attrValue(object);
    ASSERT_NE(value.get<Element>(), nullptr);
    EXPECT_EQ(fake::referenceCount(object), 2);  // ours and the Element's
    copy = *value.get<Element>();
  }
  CFRelease(object);
  EXPECT_EQ(fake::referenceCount(object), 1);  // the Element copy keeps it alive
  EXPECT_NE(axRef(*copy), nullptr);
  copy.reset();
  EXPECT_EQ(fake::referenceCount(object), 0);
}

TEST_F(AxValues, ElementsAreEqualWhenCfEqualSaysSo) {
  const sim::Node other = desktop.app(812).addWindow("Other", {0, 0, 10, 10});
  const CfRef first = CfRef::adopt(elementOf(window));
  const CfRef again = CfRef::adopt(elementOf(window));
  const CfRef second = CfRef::adopt(elementOf(other));
  ASSERT_NE(first.get(), again.get());  // two objects for one window
  const AttrValue a = attrValue(first.get());
  const AttrValue b = attrValue(again.get());
  const AttrValue c = attrValue(second.get());
  EXPECT_TRUE(*a.get<Element>() == *b.get<Element>());
  EXPECT_FALSE(*a.get<Element>() == *c.get<Element>());
  EXPECT_FALSE(*a.get<Element>() == window.element());  // a simulated element is no AX element
  EXPECT_FALSE(Element(nullptr) == *a.get<Element>());
  EXPECT_EQ(axRef(Element(nullptr)), nullptr);
}

TEST(AxValueConversion, TellsEveryKindOfValueApart) {
  struct Case {
    const char* name;
    CFTypeRef object;
    AttrValue expected;
  } cases[] = {
      {"null", nullptr, Absent{}},
      {"kCFNull", CFRetain(kCFNull), Absent{}},
      {"string", fake::makeString(u"OK"), std::string("OK")},
      {"point", fake::makePoint({10.5, -3}), PointValue{10.5, -3}},
      {"size", fake::makeSize({800, 600}), SizeValue{800, 600}},
      {"rectangle", fake::makeRect({{1, 2}, {3, 4}}), OtherValue{"rect"}},
      {"range", fake::makeRange({0, 4}), OtherValue{"range"}},
      {"error outside a batch", fake::makeError(kAXErrorNoValue), OtherValue{"error"}},
      {"an object of another type", fake::makeOther(), OtherValue{"object"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CfRef object = CfRef::adopt(c.object);
    const AttrValue value = attrValue(object.get());
    ASSERT_EQ(value.index(), c.expected.index());
    if (const auto* p = c.expected.get<PointValue>()) {
      EXPECT_EQ(value.get<PointValue>()->x, p->x);
      EXPECT_EQ(value.get<PointValue>()->y, p->y);
    }
    if (const auto* s = c.expected.get<SizeValue>()) {
      EXPECT_EQ(value.get<SizeValue>()->width, s->width);
      EXPECT_EQ(value.get<SizeValue>()->height, s->height);
    }
    if (const auto* s = c.expected.get<std::string>()) {
      EXPECT_EQ(*value.get<std::string>(), *s);
    }
    if (const auto* o = c.expected.get<OtherValue>()) {
      EXPECT_EQ(value.get<OtherValue>()->kind, o->kind);
    }
  }
}

TEST(AxValueConversion, ArraysKeepPositionsAndStopAtTheirLimits) {
  const CfRef array = CfRef::adopt(fake::makeArray({
      fake::makeString(u"a"),
      CFRetain(kCFNull),
      CFRetain(kCFBooleanTrue),
      fake::makeArray({fake::makeInteger(1), fake::makeInteger(2)}),
      fake::makeString(u"e"),
  }));
  const AttrValue all = attrValue(array.get());
  ASSERT_NE(all.get<ArrayValue>(), nullptr);
  const ArrayValue& items = *all.get<ArrayValue>();
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(*items[0].get<std::string>(), "a");
  EXPECT_TRUE(items[1].absent());
  EXPECT_EQ(*items[2].get<bool>(), true);
  ASSERT_NE(items[3].get<ArrayValue>(), nullptr);
  EXPECT_EQ(items[3].get<ArrayValue>()->at(1).get<NumberValue>()->text, "2");
  EXPECT_EQ(*items[4].get<std::string>(), "e");

  // No more items are taken than were asked for.
  const AttrValue two = attrValue(array.get(), 2);
  EXPECT_EQ(two.get<ArrayValue>()->size(), 2u);
  EXPECT_EQ(attrValue(array.get(), 0).get<ArrayValue>()->size(), 0u);

  // Nesting deeper than the limit is not taken apart.
  CFTypeRef nested = fake::makeString(u"deep");
  for (int i = 0; i < kArrayNestingLimit + 2; ++i) nested = fake::makeArray({nested});
  const CfRef deep = CfRef::adopt(nested);
  const AttrValue* level = nullptr;
  AttrValue value = attrValue(deep.get());
  int depth = 0;
  for (level = &value; level->get<ArrayValue>() != nullptr;
       level = &level->get<ArrayValue>()->at(0)) {
    ++depth;
  }
  EXPECT_EQ(depth, kArrayNestingLimit);
  ASSERT_NE(level->get<OtherValue>(), nullptr);
  EXPECT_EQ(level->get<OtherValue>()->kind, "array");
}

TEST(AxStatusOfErrors, MapsEachErrorTheCoreTellsApart) {
  EXPECT_EQ(axStatus(kAXErrorSuccess), AxStatus::success);
  EXPECT_EQ(axStatus(kAXErrorAttributeUnsupported), AxStatus::attributeUnsupported);
  EXPECT_EQ(axStatus(kAXErrorNoValue), AxStatus::noValue);
  EXPECT_EQ(axStatus(kAXErrorCannotComplete), AxStatus::cannotComplete);
  EXPECT_EQ(axStatus(kAXErrorInvalidUIElement), AxStatus::invalidElement);
  EXPECT_EQ(axStatus(kAXErrorActionUnsupported), AxStatus::actionUnsupported);
  for (AXError other :
       {kAXErrorFailure, kAXErrorIllegalArgument, kAXErrorAPIDisabled, kAXErrorNotImplemented}) {
    EXPECT_EQ(axStatus(other), AxStatus::failure) << other;
  }
}

}  // namespace
}  // namespace nevo::macos
