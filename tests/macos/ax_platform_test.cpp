// The accessibility operations of the macOS backend over the fake of the system's C
// interfaces, bound to a simulated desktop.
#include "platform/macos/ax_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands.h"
#include "fake_macos.h"
#include "platform/macos/ax_values.h"
#include "reply/emit.h"
#include "sim_desktop.h"

namespace nevo::macos {
namespace {

using sim::Node;
using sim::Op;

class AxPlatformTest : public ::testing::Test {
 protected:
  sim::SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  Node window = app.addWindow("Notes", {0, 0, 800, 600});
  Node button = window.add("AXButton").title("OK").frame({10, 10, 80, 30});
  Platform& platform = test::platformUnderTest(desktop);

  AxPlatformTest() {
    app.focusWindow(window);
    desktop.setFrontmost(812);
  }

  // The window as the backend's element, read through the application.
  Element windowElement() {
    const AttributeRead read =
        platform.copyAttributeValue(platform.createApplicationElement(812), "AXFocusedWindow");
    EXPECT_EQ(read.status, AxStatus::success);
    return read.value.get<Element>() != nullptr ? *read.value.get<Element>() : Element(nullptr);
  }
};

TEST_F(AxPlatformTest, BatchGivesEachAttributeItsOwnOutcomeInOneRequest) {
  window.fail("AXDescription", AxStatus::attributeUnsupported)
      .fail("AXHelp", AxStatus::noValue)
      .fail("AXIdentifier", AxStatus::cannotComplete)
      .fail("AXSubrole", AxStatus::failure)
      .set("AXValue", AttrValue());  // present, without a value: kCFNull in the batch
  const Element element = windowElement();
  desktop.clearCalls();

  static constexpr std::string_view kNames[] = {"AXRole",    "AXDescription", "AXValue",
                                                "AXTitle",   "AXHelp",        "AXIdentifier",
                                                "AXSubrole", "AXNoSuchThing"};
  const std::vector<AttributeRead> reads = platform.copyMultipleAttributeValues(element, kNames);

  ASSERT_EQ(reads.size(), std::size(kNames));
  const AxStatus expected[] = {AxStatus::success, AxStatus::attributeUnsupported,
                               AxStatus::success, AxStatus::success,
                               AxStatus::noValue, AxStatus::cannotComplete,
                               AxStatus::failure, AxStatus::attributeUnsupported};
  for (std::size_t i = 0; i < reads.size(); ++i) {
    SCOPED_TRACE(kNames[i]);
    EXPECT_EQ(reads[i].status, expected[i]);
  }
  EXPECT_EQ(*reads[0].value.get<std::string>(), "AXWindow");
  EXPECT_TRUE(reads[2].value.absent());
  EXPECT_EQ(*reads[3].value.get<std::string>(), "Notes");
  EXPECT_EQ(fake::calls("AXUIElementCopyMultipleAttributeValues"), 1);
  ASSERT_EQ(desktop.callsOf(Op::readBatch).size(), 1u);
  EXPECT_EQ(desktop.callsOf(Op::readBatch)[0].names.size(), std::size(kNames));
}

TEST_F(AxPlatformTest, AFailedRequestFailsEveryAttributeAndReleasesWhatItHandedOut) {
  struct Case {
    const char* name;
    std::function<void()> setup;
    AxStatus status;
  } cases[] = {
      {"the application does not answer in time", [this] { window.latency("AXTitle", 10); },
       AxStatus::cannotComplete},
      {"the window closed", [this] { app.closeWindow(window); }, AxStatus::invalidElement},
  };
  static constexpr std::string_view kNames[] = {"AXRole", "AXTitle"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Element element = windowElement();
    c.setup();
    const std::size_t before = fake::liveObjects();
    const int released = fake::calls("CFRelease");

    const std::vector<AttributeRead> reads = platform.copyMultipleAttributeValues(element, kNames);
    for (const AttributeRead& read : reads) EXPECT_EQ(read.status, c.status);
    EXPECT_EQ(fake::liveObjects(), before);
    // The names, their array and the array handed out with the error.
    EXPECT_EQ(fake::calls("CFRelease") - released, 4);
  }
}

TEST_F(AxPlatformTest, ValuesHandedOutWithAnErrorAreReleasedUnread) {
  // The fake hands out a value with every error; the end of the test reports any that was
  // read or kept.
  window.fail("AXTitle", AxStatus::cannotComplete).fail("AXChildren");
  const Element element = windowElement();
  const Element system = platform.createSystemWideElement();
  const std::size_t before = fake::liveObjects();

  EXPECT_EQ(platform.copyAttributeValue(element, "AXTitle").status, AxStatus::cannotComplete);
  const CountRead count = platform.getAttributeValueCount(element, "AXChildren");
  EXPECT_EQ(count.status, AxStatus::cannotComplete);
  EXPECT_EQ(count.count, 0);  // not the nonsense written with the error
  const AttributeRead children = platform.copyAttributeValues(element, "AXChildren", 0, 5);
  EXPECT_EQ(children.status, AxStatus::cannotComplete);
  EXPECT_TRUE(children.value.absent());
  const ElementRead nothing = platform.copyElementAtPosition(system, 5000, 5000);
  EXPECT_EQ(nothing.status, AxStatus::noValue);
  EXPECT_FALSE(nothing.element);

  EXPECT_EQ(fake::liveObjects(), before);
}

TEST_F(AxPlatformTest, ASuccessfulReadWithoutAValueIsAbsent) {
  window.set("AXValue", AttrValue());
  const Element element = windowElement();
  const AttributeRead single = platform.copyAttributeValue(element, "AXValue");
  EXPECT_EQ(single.status, AxStatus::success);
  EXPECT_TRUE(single.value.absent());
  static constexpr std::string_view kValue[] = {"AXValue"};
  const std::vector<AttributeRead> batch = platform.copyMultipleAttributeValues(element, kValue);
  EXPECT_EQ(batch.at(0).status, AxStatus::success);
  EXPECT_TRUE(batch.at(0).value.absent());
}

TEST_F(AxPlatformTest, RequestsAboutNoAccessibilityObjectAreNeverSent) {
  static constexpr std::string_view kNames[] = {"AXRole", "AXTitle"};
  for (const Element& element : {Element(nullptr), window.element()}) {
    EXPECT_EQ(platform.copyAttributeValue(element, "AXTitle").status, AxStatus::invalidElement);
    for (const AttributeRead& read : platform.copyMultipleAttributeValues(element, kNames)) {
      EXPECT_EQ(read.status, AxStatus::invalidElement);
    }
    EXPECT_EQ(platform.getAttributeValueCount(element, "AXChildren").status,
              AxStatus::invalidElement);
    EXPECT_EQ(platform.copyAttributeValues(element, "AXChildren", 0, 1).status,
              AxStatus::invalidElement);
    EXPECT_EQ(platform.setBooleanAttribute(element, "AXMinimized", false),
              AxStatus::invalidElement);
    EXPECT_EQ(platform.performAction(element, "AXRaise"), AxStatus::invalidElement);
    EXPECT_EQ(platform.copyElementAtPosition(element, 1, 1).status, AxStatus::invalidElement);
    platform.setMessagingTimeout(element, 0.05f);
  }
  EXPECT_TRUE(desktop.calls().empty());
  EXPECT_EQ(fake::liveObjects(), 0u);
}

TEST_F(AxPlatformTest, TakesNoMoreValuesThanAskedFor) {
  for (int i = 0; i < 4; ++i) app.addWindow("W" + std::to_string(i), {0, 0, 10, 10});
  desktop.ignoresMaxCount = true;
  const Element application = platform.createApplicationElement(812);
  const AttributeRead two = platform.copyAttributeValues(application, "AXWindows", 0, 2);
  ASSERT_EQ(two.status, AxStatus::success);
  EXPECT_EQ(two.value.get<ArrayValue>()->size(), 2u);
  EXPECT_EQ(desktop.copyAttributeValues(app.node().element(), "AXWindows", 0, 2)
                .value.get<ArrayValue>()
                ->size(),
            5u);
}

TEST_F(AxPlatformTest, RestoresRaisesAndHitTestsThroughTheSystemsObjects) {
  window.minimized(true);
  const Element element = windowElement();
  EXPECT_EQ(platform.setBooleanAttribute(element, "AXMinimized", false), AxStatus::success);
  EXPECT_EQ(*desktop.copyAttributeValue(window.element(), "AXMinimized").value.get<bool>(), false);
  ASSERT_EQ(desktop.callsOf(Op::write).size(), 1u);
  EXPECT_EQ(desktop.callsOf(Op::write)[0].number, 0);

  EXPECT_EQ(platform.performAction(element, "AXRaise"), AxStatus::success);
  window.failOp(Op::action, "AXRaise", AxStatus::actionUnsupported);
  EXPECT_EQ(platform.performAction(element, "AXRaise"), AxStatus::actionUnsupported);
  EXPECT_EQ(desktop.callsOf(Op::action).size(), 2u);

  const ElementRead hit =
      platform.copyElementAtPosition(platform.createSystemWideElement(), 50, 25);
  ASSERT_EQ(hit.status, AxStatus::success);
  const AttributeRead children = platform.copyAttributeValue(element, "AXChildren");
  ASSERT_EQ(children.value.get<ArrayValue>()->size(), 1u);
  EXPECT_TRUE(*hit.element == *children.value.get<ArrayValue>()->at(0).get<Element>());
  EXPECT_FALSE(*hit.element == element);
}

TEST_F(AxPlatformTest, MessagingTimeoutBelongsToTheElementObject) {
  app.node().latency("AXFocusedWindow", 0.1);
  const Element shortWait = platform.createApplicationElement(812);
  platform.setMessagingTimeout(shortWait, 0.05f);
  const Element usualWait = platform.createApplicationElement(812);
  EXPECT_EQ(platform.copyAttributeValue(shortWait, "AXFocusedWindow").status,
            AxStatus::cannotComplete);
  EXPECT_EQ(platform.copyAttributeValue(usualWait, "AXFocusedWindow").status, AxStatus::success);
  ASSERT_EQ(desktop.callsOf(Op::setTimeout).size(), 1u);
  EXPECT_EQ(desktop.callsOf(Op::setTimeout)[0].number, 0.05f);
}

// The system's strings and numbers, as they reach a reply line.
TEST(MacosReplyLines, CarryTheSystemsStringsAndNumbers) {
  sim::SimDesktop desktop;
  sim::SimApp& notes = desktop.addApp(812, "Notes");
  const Node window = notes.addWindow("placeholder", {0, 0, 800, 600});
  window.add("AXSlider").frame({10, 10, 100, 20}).value(sim::number(0.1 + 0.2));
  notes.focusWindow(window);
  desktop.setFrontmost(812);
  test::platformUnderTest(desktop);
  // A lone surrogate, U+0000 and a character outside the Basic Multilingual Plane.
  fake::serveRaw(window.element(), "AXTitle", [] {
    return fake::makeString(
        std::u16string(u"a\xD800"
                       u"b\0c\U0001F600",
                       7));
  });

  const std::string list = serializeReply(test::listWindowsOn(desktop)).value();
  EXPECT_NE(list.find("\"title\":\"a\xEF\xBF\xBD"
                      "b\\u0000c\xF0\x9F\x98\x80\""),
            std::string::npos)
      << list;

  const std::string observation = serializeReply(test::observeOn(desktop)).value();
  // The slider's value as the number object writes it, not the shortest round trip
  // ("0.30000000000000004").
  EXPECT_NE(observation.find("\"role\":\"slider\",\"value\":\"0.3\""), std::string::npos)
      << observation;
}

}  // namespace
}  // namespace nevo::macos
