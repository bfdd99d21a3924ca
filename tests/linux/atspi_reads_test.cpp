// The backend's accessibility reads against a scripted application, driven by the core's own
// walk: what reaches the core, and what is asked of the application and what never is.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fake_application.h"
#include "fake_walk.h"
#include "observe/observation.h"
#include "observe/walk.h"
#include "platform/attributes.h"
#include "platform/linux/atspi_roles.h"
#include "platform/linux/atspi_wire.h"
#include "platform/linux/linux_platform.h"

namespace nevo::lin {
namespace {

using test::FakeApplication;
using test::FakeObject;
using test::kFakePid;

// AT-SPI role numbers used below.
constexpr std::uint32_t kPanel = 39;
constexpr std::uint32_t kLabel = 29;
constexpr std::uint32_t kPushButton = 43;
constexpr std::uint32_t kMenuItem = 35;
constexpr std::uint32_t kFiller = 20;
constexpr std::uint32_t kSlider = 51;

constexpr StateSet kShown =
    stateBit(State::showing) | stateBit(State::visible) | stateBit(State::enabled);
// Generous: a test machine may be slow, and nothing here waits for it unless asked.
constexpr float kReadSeconds = 5.0f;

FakeObject object(std::uint32_t role, const std::string& name, Extents extents,
                  StateSet states = kShown) {
  FakeObject o;
  o.role = role;
  o.name = name;
  o.extents = extents;
  o.states = states;
  return o;
}

// A window with a panel, as every scene below starts.
void addWindow(FakeApplication& app) {
  app.add("/w", std::string(kRootPath),
          object(kRoleFrame, "Window", {0, 0, 400, 300}, kShown | stateBit(State::active)));
  app.add("/w/p", "/w", object(kPanel, "", {0, 0, 400, 300}));
}

struct Observed {
  std::vector<nlohmann::json> records;
  Element window;
};

// The core's walk of the application's focused window, as the observation makes it (without
// the checks around it).
Observed observeWindow(LinuxPlatform& platform) {
  test::Walked walked = test::walkFocusedWindow(platform, kReadSeconds, kReadSeconds, true);
  EXPECT_TRUE(walked.window);
  return Observed{std::move(walked.records), walked.window.value_or(Element(nullptr))};
}

const nlohmann::json* recordNamed(const Observed& observed, const std::string& name) {
  for (const nlohmann::json& record : observed.records) {
    if (record["name"] == name) return &record;
  }
  return nullptr;
}

bool askedForTexts(const std::vector<test::LoggedCall>& calls) {
  return std::any_of(calls.begin(), calls.end(), [](const test::LoggedCall& call) {
    return call.member == "GetText" ||
           (call.member == "Get" && call.detail != "AccessibleId" && call.detail != "Parent");
  });
}

TEST(AtspiReads, APasswordTextsTextsAreNeverAskedForNorIsAnythingBelowIt) {
  FakeApplication app;
  addWindow(app);
  FakeObject password =
      object(kRolePasswordText, "Password", {10, 10, 100, 20}, kShown | stateBit(State::focused));
  password.text = "hunter2";
  password.id = "secret-field";
  app.add("/w/p/pw", "/w/p", password);
  FakeObject inner = object(kLabel, "inner", {10, 10, 50, 20});
  inner.text = "inner text";
  app.add("/w/p/pw/inner", "/w/p/pw", inner);
  FakeObject entry = object(kRoleText, "Entry", {10, 40, 100, 20});
  entry.text = "typed";
  app.add("/w/p/entry", "/w/p", entry);
  FakeObject label = object(kLabel, "", {10, 70, 100, 20});
  label.text = "Plain label";
  app.add("/w/p/label", "/w/p", label);
  LinuxPlatform platform(app.takeLink());

  const Observed observed = observeWindow(platform);

  // The focused password field is recorded first, protected, with nothing of its texts.
  ASSERT_FALSE(observed.records.empty());
  const nlohmann::json& first = observed.records.front();
  EXPECT_EQ(first["id"], "4242:focus");
  EXPECT_EQ(first["protected"], true);
  EXPECT_EQ(first["name"], "");
  EXPECT_EQ(first["value"], "");
  EXPECT_EQ(first["identifier"], "secret-field");
  EXPECT_EQ(recordNamed(observed, "inner"), nullptr);
  // The others are read in full.
  ASSERT_NE(recordNamed(observed, "Entry"), nullptr);
  EXPECT_EQ((*recordNamed(observed, "Entry"))["hasValue"], true);
  ASSERT_NE(recordNamed(observed, "Plain label"), nullptr);
  EXPECT_EQ((*recordNamed(observed, "Plain label"))["value"], "Plain label");

  // Its name, description and text contents were never asked for, by the walk or by
  // read-ahead; its identifier was asked alone; nothing below it was asked at all.
  const std::vector<test::LoggedCall> calls = app.callsOn("/w/p/pw");
  EXPECT_FALSE(askedForTexts(calls));
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const test::LoggedCall& call) {
    return call.member == "Get" && call.detail == "AccessibleId";
  }));
  EXPECT_TRUE(app.callsOn("/w/p/pw/inner").empty());
  EXPECT_TRUE(askedForTexts(app.callsOn("/w/p/entry")));
}

// What every toolkit serves: AT-SPI methods and single-property Get of these properties.
// Collection's search only where the root offers it.
bool servedByEveryToolkit(const test::LoggedCall& call, bool collection) {
  static constexpr std::string_view kMethods[] = {
      "GetRole",
      "GetState",
      "GetExtents",
      "GetChildren",
      "GetInterfaces",
      "GetText",
      "GetApplicationBusAddress"};  // the root's; Qt refuses it with an error
  static constexpr std::string_view kProperties[] = {
      "Name",        "Description", "AccessibleId",   "ChildCount",  "Parent",
      "ToolkitName", "Version",     "CharacterCount", "CurrentValue"};
  if (call.member == "GetMatches") return collection;
  if (call.member == "Get") {
    return std::find(std::begin(kProperties), std::end(kProperties), call.detail) !=
           std::end(kProperties);
  }
  return std::find(std::begin(kMethods), std::end(kMethods), call.member) != std::end(kMethods);
}

TEST(AtspiReads, EveryCommandSendsOnlyWhatEveryToolkitServesAndFindsTheFocus) {
  struct Case {
    const char* what;
    test::FakeToolkit toolkit;
    std::uint32_t windowRole;
  };
  const Case cases[] = {
      {"GTK 3: Collection on the root", {}, kRoleFrame},
      {"GTK 4: no Collection", {"GTK", "4.8.3", false, true}, kRoleFrame},
      {"Qt 6: no Collection, no AccessibleId, a top-level filler",
       {"Qt", "6.4.2", false, false},
       kFiller},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeApplication app;
    app.setToolkit(c.toolkit);
    // A hidden menu window, then the active window with the focus three levels down.
    app.add("/menu", std::string(kRootPath), object(kRoleWindow, "menu", {0, 0, 10, 10}, 0));
    app.add("/w", std::string(kRootPath),
            object(c.windowRole, "Window", {0, 0, 400, 300}, kShown | stateBit(State::active)));
    app.add("/w/p", "/w", object(kPanel, "", {0, 0, 400, 300}));
    app.add("/w/p/q", "/w/p", object(kPanel, "", {0, 0, 400, 300}));
    app.add("/w/p/q/ok", "/w/p/q",
            object(kPushButton, "OK", {10, 10, 80, 30}, kShown | stateBit(State::focused)));
    FakeObject slider = object(kSlider, "Volume", {10, 50, 80, 30});
    slider.value = 3;
    app.add("/w/p/q/volume", "/w/p/q", slider);
    FakeObject entry = object(kRoleText, "Entry", {10, 90, 80, 30});
    entry.text = "typed";
    app.add("/w/p/q/entry", "/w/p/q", entry);
    LinuxPlatform platform(app.takeLink());
    const Element application = platform.createApplicationElement(kFakePid);
    platform.setMessagingTimeout(application, kReadSeconds);

    const AttributeRead windows = platform.copyAttributeValues(application, "AXWindows", 0, 10);
    ASSERT_EQ(windows.status, AxStatus::success);
    ASSERT_EQ(windows.value.get<ArrayValue>()->size(), 1u);
    const Element window = *(*windows.value.get<ArrayValue>())[0].get<Element>();
    EXPECT_EQ(text(attribute(platform, window, "AXRole")), "AXWindow");
    const Observed observed = observeWindow(platform);
    EXPECT_TRUE(observed.window == window);
    ASSERT_FALSE(observed.records.empty());
    EXPECT_EQ(observed.records.front()["id"], "4242:focus");
    EXPECT_EQ(observed.records.front()["name"], "OK");
    ASSERT_NE(recordNamed(observed, "Volume"), nullptr);
    EXPECT_EQ((*recordNamed(observed, "Volume"))["value"], "3");
    EXPECT_NE(recordNamed(observed, "Entry"), nullptr);

    EXPECT_FALSE(app.crashed());
    const std::vector<test::LoggedCall> calls = app.calls();
    for (const test::LoggedCall& call : calls) {
      EXPECT_TRUE(servedByEveryToolkit(call, c.toolkit.collection))
          << call.member << " " << call.detail << " on " << call.path;
      // Asked once of the root, to learn whether the toolkit answers it.
      if (!c.toolkit.accessibleId && call.path != kRootPath) {
        EXPECT_NE(call.detail, "AccessibleId") << call.path;
      }
    }
  }
}

TEST(AtspiReads, EachKindOfReadOfAStoppedApplicationFailsAndSucceedsOnceItAnswers) {
  FakeApplication app;
  addWindow(app);
  app.add("/w/p/ok", "/w/p", object(kPushButton, "OK", {10, 10, 80, 30}));
  LinuxPlatform platform(app.takeLink());
  const Element application = platform.createApplicationElement(kFakePid);
  const Element system = platform.createSystemWideElement();
  constexpr float kStoppedSeconds = 0.05f;
  platform.setMessagingTimeout(system, kStoppedSeconds);
  platform.setMessagingTimeout(application, kStoppedSeconds);
  const Element window = objectElement(ObjectRef{test::kFakeBusName, "/w"});
  const Element button = objectElement(ObjectRef{test::kFakeBusName, "/w/p/ok"});

  static constexpr std::string_view kDeciding[] = {"AXRole",    "AXPosition",   "AXSize",
                                                   "AXEnabled", "AXIdentifier", "AXTitle"};
  struct Read {
    const char* what;
    std::function<bool()> succeeds;
  };
  const Read reads[] = {
      {"a batch",
       [&] {
         const std::vector<AttributeRead> batch =
             platform.copyMultipleAttributeValues(button, kDeciding);
         return std::all_of(batch.begin(), batch.end(), [](const AttributeRead& read) {
           return read.status == AxStatus::success;
         });
       }},
      {"the child count",
       [&] {
         return platform.getAttributeValueCount(window, "AXChildren").status == AxStatus::success;
       }},
      {"the children",
       [&] {
         return platform.copyAttributeValues(window, "AXChildren", 0, 10).status ==
                AxStatus::success;
       }},
      {"the windows",
       [&] {
         return platform.getAttributeValueCount(application, "AXWindows").status ==
                AxStatus::success;
       }},
      {"the focused window",
       [&] {
         return platform.copyAttributeValue(application, "AXFocusedWindow").status ==
                AxStatus::success;
       }},
      {"the parent of an element reached without its parent",
       [&] { return platform.copyAttributeValue(window, "AXParent").status == AxStatus::success; }},
  };
  app.stop();
  for (const Read& read : reads) {
    SCOPED_TRACE(read.what);
    EXPECT_FALSE(read.succeeds());
  }
  // Answers that come late are taken in; every read succeeds again.
  app.resume();
  platform.setMessagingTimeout(system, kReadSeconds);
  platform.setMessagingTimeout(application, kReadSeconds);
  for (const Read& read : reads) {
    SCOPED_TRACE(read.what);
    EXPECT_TRUE(read.succeeds());
  }
}

TEST(AtspiReads, WhatIsNotDrawnHasNoFrameAndGetsNoRecordButItsChildrenAreWalked) {
  // GTK's not-drawn coordinate on either axis, or Firefox's negative size; the element
  // itself is showing, so what is below it is still walked.
  static constexpr struct {
    const char* what;
    Extents extents;
  } kCases[] = {
      {"x only", {kNotDrawn, 7, 1, 1}},
      {"y only", {7, kNotDrawn, 1, 1}},
      {"both", {kNotDrawn, kNotDrawn, 1, 1}},
      {"Firefox's (-1, -1) of size -1 x -1", {-1, -1, -1, -1}},
      {"a negative width", {5, 5, -3, 20}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    FakeApplication app;
    addWindow(app);
    app.add("/w/p/menu", "/w/p", object(kMenuItem, "Hidden item", c.extents));
    app.add("/w/p/menu/shown", "/w/p/menu", object(kPushButton, "Shown below", {5, 5, 50, 20}));
    LinuxPlatform platform(app.takeLink());

    const Element hidden = objectElement(ObjectRef{test::kFakeBusName, "/w/p/menu"});
    static constexpr std::string_view kFrameNames[] = {"AXPosition", "AXSize"};
    const std::vector<AttributeRead> frame =
        platform.copyMultipleAttributeValues(hidden, kFrameNames);
    EXPECT_NE(frame[0].status, AxStatus::success);
    EXPECT_NE(frame[1].status, AxStatus::success);

    const Observed observed = observeWindow(platform);
    EXPECT_EQ(recordNamed(observed, "Hidden item"), nullptr);
    EXPECT_NE(recordNamed(observed, "Shown below"), nullptr);
  }
}

TEST(AtspiReads, GtkFoursChildrenAreNotFilteredByAShowingStateItNeverSets) {
  // GTK 4.8 sets `showing` on its windows alone: its elements are walked whatever their
  // state. Every other toolkit's (GTK 3 here, or one that does not say) are filtered.
  static constexpr struct {
    const char* name;
    const char* version;
    bool filtered;
  } kCases[] = {{"GTK", "4.8.3", false}, {"GTK", "3.24.38", true}, {"", "", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.version);
    FakeApplication app;
    app.setToolkit(test::FakeToolkit{c.name, c.version});
    addWindow(app);
    app.add("/w/p/ok", "/w/p",
            object(kPushButton, "OK", {10, 10, 80, 30}, stateBit(State::visible)));
    LinuxPlatform platform(app.takeLink());
    const Observed observed = observeWindow(platform);
    EXPECT_EQ(recordNamed(observed, "OK") == nullptr, c.filtered);
  }
}

TEST(AtspiReads, WhatIsNotShowingIsNoChildAndGetsNeitherARecordNorAVisit) {
  // Before the visible controls: a hidden menu bar at real coordinates, and a hidden panel
  // holding more elements than the walk visits (an office suite's closed menus, Firefox's
  // preloaded page). Neither is on the screen.
  FakeApplication app;
  addWindow(app);
  app.add("/w/p/menubar", "/w/p", object(kMenuItem, "File", {0, 0, 40, 20}, 0));
  app.add("/w/p/hidden", "/w/p", object(kPanel, "", {0, 20, 400, 200}, stateBit(State::visible)));
  for (int i = 0; i < 600; ++i) {
    app.add("/w/p/hidden/b" + std::to_string(i), "/w/p/hidden",
            object(kPushButton, "Hidden " + std::to_string(i), {0, 20, 40, 20}, 0));
  }
  app.add("/w/p/ok", "/w/p", object(kPushButton, "OK", {10, 250, 80, 30}));
  LinuxPlatform platform(app.takeLink());

  const Observed observed = observeWindow(platform);
  EXPECT_NE(recordNamed(observed, "OK"), nullptr);
  EXPECT_EQ(recordNamed(observed, "File"), nullptr);
  EXPECT_EQ(recordNamed(observed, "Hidden 0"), nullptr);
  // The hidden panel is not listed, and nothing below it is asked.
  for (const test::LoggedCall& call : app.callsOn("/w/p/hidden")) {
    EXPECT_NE(call.member, "GetChildren");
  }
  EXPECT_TRUE(app.callsOn("/w/p/hidden/b0").empty());

  // The panel's children as the walk counts and lists them: the shown one alone.
  const Element panel = objectElement(ObjectRef{test::kFakeBusName, "/w/p"});
  const CountRead count = platform.getAttributeValueCount(panel, "AXChildren");
  ASSERT_EQ(count.status, AxStatus::success);
  EXPECT_EQ(count.count, 1);
  const AttributeRead values = platform.copyAttributeValues(panel, "AXChildren", 0, 100);
  ASSERT_EQ(values.status, AxStatus::success);
  ASSERT_EQ(values.value.get<ArrayValue>()->size(), 1u);
  EXPECT_TRUE(*(*values.value.get<ArrayValue>())[0].get<Element>() ==
              objectElement(ObjectRef{test::kFakeBusName, "/w/p/ok"}));
}

TEST(AtspiReads, TheSameObjectReachedTwoWaysIsOneElement) {
  FakeApplication app;
  addWindow(app);
  app.add("/w/p/ok", "/w/p",
          object(kPushButton, "OK", {10, 10, 80, 30}, kShown | stateBit(State::focused)));
  LinuxPlatform platform(app.takeLink());

  const Observed observed = observeWindow(platform);
  // The focused button, found by the focus search, is the button the walk reached through
  // the children: one record, under "focus".
  const auto named = std::count_if(observed.records.begin(), observed.records.end(),
                                   [](const nlohmann::json& r) { return r["name"] == "OK"; });
  EXPECT_EQ(named, 1);
  EXPECT_EQ(observed.records.front()["id"], "4242:focus");

  // The window, found by the focus search, has the application for its parent; the
  // application's element is the same whenever it is made.
  const Element application = platform.createApplicationElement(kFakePid);
  const std::optional<Element> parent = axElement(attribute(platform, observed.window, "AXParent"));
  ASSERT_TRUE(parent);
  EXPECT_TRUE(*parent == application);
  EXPECT_TRUE(platform.createApplicationElement(kFakePid) == application);
  EXPECT_FALSE(platform.createApplicationElement(kFakePid + 1) == application);
  const std::optional<Element> listed =
      axElement(attribute(platform, observed.window, "AXChildren"));
  EXPECT_FALSE(listed);  // an array, not an element
}

TEST(AtspiReads, TheCountOfChildrenAgreesWithTheChildrenListed) {
  FakeApplication app;
  addWindow(app);
  for (int i = 0; i < 3; ++i) {
    app.add("/w/p/b" + std::to_string(i), "/w/p",
            object(kPushButton, "B" + std::to_string(i), {10, 10 + 30 * i, 80, 30}));
  }
  LinuxPlatform platform(app.takeLink());
  const Element panel = objectElement(ObjectRef{test::kFakeBusName, "/w/p"});
  const Element leaf = objectElement(ObjectRef{test::kFakeBusName, "/w/p/b1"});
  const Element system = platform.createSystemWideElement();
  platform.setMessagingTimeout(system, kReadSeconds);

  struct Case {
    const char* what;
    const Element& element;
    long count;
  };
  const Case cases[] = {{"a panel of three", panel, 3}, {"a button", leaf, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CountRead count = platform.getAttributeValueCount(c.element, "AXChildren");
    ASSERT_EQ(count.status, AxStatus::success);
    EXPECT_EQ(count.count, c.count);
    const AttributeRead values = platform.copyAttributeValues(c.element, "AXChildren", 0, 100);
    ASSERT_EQ(values.status, AxStatus::success);
    EXPECT_EQ(static_cast<long>(values.value.get<ArrayValue>()->size()), c.count);
  }
  // From the second child on, and no more than asked for.
  const AttributeRead tail = platform.copyAttributeValues(panel, "AXChildren", 1, 1);
  ASSERT_EQ(tail.status, AxStatus::success);
  ASSERT_EQ(tail.value.get<ArrayValue>()->size(), 1u);
  EXPECT_TRUE(*(*tail.value.get<ArrayValue>())[0].get<Element>() == leaf);
}

TEST(AtspiReads, AClosedWindowsElementsReadAsAbsent) {
  FakeApplication app;
  addWindow(app);
  app.add("/w/p/ok", "/w/p", object(kPushButton, "OK", {10, 10, 80, 30}));
  LinuxPlatform platform(app.takeLink());
  const Element system = platform.createSystemWideElement();
  platform.setMessagingTimeout(system, kReadSeconds);
  const Element button = objectElement(ObjectRef{test::kFakeBusName, "/w/p/ok"});
  static constexpr std::string_view kRead[] = {"AXTitle", "AXPosition", "AXEnabled"};
  for (const AttributeRead& read : platform.copyMultipleAttributeValues(button, kRead)) {
    EXPECT_EQ(read.status, AxStatus::success);
  }
  app.remove("/w/p/ok");
  for (const AttributeRead& read : platform.copyMultipleAttributeValues(button, kRead)) {
    EXPECT_NE(read.status, AxStatus::success);
  }
}

}  // namespace
}  // namespace nevo::lin
