#include "observe/walk.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimDesktop;

constexpr ProcessId kPid = 812;

std::string opName(Op op) {
  switch (op) {
    case Op::read:
      return "read";
    case Op::readBatch:
      return "batch";
    case Op::count:
      return "count";
    case Op::readValues:
      return "readValues";
    case Op::write:
      return "write";
    case Op::action:
      return "action";
    case Op::hitTest:
      return "hitTest";
    default:
      return "other";
  }
}

// The calls that were made about one node, as "read AXRole", "count AXChildren", ...
std::vector<std::string> callsOn(const SimDesktop& desktop, const Node& node) {
  std::vector<std::string> calls;
  for (const sim::Call& c : desktop.calls()) {
    if (c.node != node.id()) continue;
    std::string line = opName(c.op) + " " + c.name;
    for (std::size_t i = 0; i < c.names.size(); ++i) line += (i == 0 ? "" : ",") + c.names[i];
    calls.push_back(line);
  }
  return calls;
}

// Whether a hit test was made at exactly this point.
bool hitTestedAt(const SimDesktop& desktop, double x, double y) {
  for (const sim::Call& c : desktop.callsOf(Op::hitTest)) {
    if (c.number == x && c.second == y) return true;
  }
  return false;
}

// The first request about every element: what decides protection, frame and record.
const std::string kDecidingBatch =
    "batch AXRole,AXSubrole,AXProtectedContent,AXPosition,AXSize,AXEnabled,AXIdentifier";
// The second, only for an element with a visible frame that is not protected.
const std::string kTextBatch = "batch AXTitle,AXDescription,AXValue";
// The reads of a fully evaluated element that is not protected.
const std::vector<std::string> kQualifyingReads = {kDecidingBatch, kTextBatch};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class WalkTest : public ::testing::Test {
 protected:
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(kPid, "Notes");
  Node window = app.addWindow("Notes", {0, 0, 800, 600});
  std::optional<ObservationState> state;

  // Sets the state up as the observation does right before its walk.
  void begin(const Node& focus = Node()) {
    const Element system = desktop.createSystemWideElement();
    desktop.setMessagingTimeout(system, kObservationTimeout);
    state.emplace(app.node().element(), system,
                  focus.id() >= 0 ? std::optional<Element>(focus.element()) : std::nullopt,
                  desktop.now() + kObservationWalkSeconds);
  }

  // The focused element's record, then the walk of `start` from "w".
  void walk(const Node& focus = Node()) { walkWindow(window, focus); }
  void walkWindow(const Node& start, const Node& focus = Node()) {
    begin(focus);
    if (state->focused) appendElement(desktop, *state, *state->focused, "focus", kPid);
    visit(desktop, *state, start.element(), "w", 0, kPid);
  }

  std::vector<std::string> ids() const {
    std::vector<std::string> result;
    for (const Reply& record : state->elements) result.push_back(record["id"]);
    return result;
  }

  // The record with the id "812:<path>".
  Reply recordOf(const std::string& path) const {
    for (const Reply& record : state->elements) {
      if (record["id"] == std::to_string(kPid) + ":" + path) return record;
    }
    ADD_FAILURE() << "no record " << path;
    return Reply::object();
  }
};

TEST_F(WalkTest, ReadsAnElementInOrderAndBuildsItsRecord) {
  const Node button =
      window.add("AXButton").title("Save").identifier("save").frame({10.25, 20.5, 101, 51});
  walk();

  EXPECT_EQ(callsOn(desktop, button), concat(kQualifyingReads, {"count AXChildren"}));
  EXPECT_TRUE(hitTestedAt(desktop, 60.75, 46.0));  // the centre of the frame
  EXPECT_EQ(recordOf("w.0"), Reply::parse(R"({
    "bounds": {"height": 51.0, "width": 101.0, "x": 10.25, "y": 20.5},
    "enabled": true, "focused": false, "hasValue": false, "hittable": true,
    "id": "812:w.0", "identifier": "save", "name": "Save", "protected": false,
    "role": "button", "value": ""})"));
  EXPECT_FALSE(state->truncated);
  EXPECT_EQ(state->visited, 2);
}

TEST_F(WalkTest, EveryTableRoleIsReportedAndQualifies) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"AXButton", "button"},
      {"AXTextField", "textbox"},
      {"AXTextArea", "textbox"},
      {"AXComboBox", "combobox"},
      {"AXPopUpButton", "combobox"},
      {"AXCheckBox", "checkbox"},
      {"AXRadioButton", "radio"},
      {"AXMenuItem", "menuitem"},
      {"AXStaticText", "text"},
      {"AXScrollArea", "scrollarea"},
      {"AXTable", "table"},
      {"AXRow", "row"},
      {"AXLink", "link"},
      {"AXSlider", "slider"},
      {"AXTabGroup", "tabs"},
      {"AXSheet", "dialog"},
      {"AXDialog", "dialog"},
      {"AXWindow", "window"},
  };
  EXPECT_EQ(roleTable().size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    // No name: the role alone has to qualify the element.
    window.add(table[i].first).frame({10.0 + 40.0 * static_cast<double>(i), 10, 30, 30});
  }
  walk();
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].first);
    EXPECT_EQ(recordOf("w." + std::to_string(i))["role"], table[i].second);
  }
}

TEST_F(WalkTest, NameValueAndEnabledFollowTheRecordRules) {
  struct Case {
    const char* what;
    const char* role;
    std::vector<std::pair<std::string, AttrValue>> attributes;
    std::string reportedRole;
    std::string name;
    std::string value;
    bool hasValue;
    bool enabled;
  } cases[] = {
      {"title before description",
       "AXButton",
       {{"AXTitle", std::string("OK")}, {"AXDescription", std::string("Confirm")}},
       "button",
       "OK",
       "",
       false,
       true},
      {"description when there is no title",
       "AXButton",
       {{"AXDescription", std::string("Close")}},
       "button",
       "Close",
       "",
       false,
       true},
      {"a blank title is a title",
       "AXButton",
       {{"AXTitle", std::string(" ")}, {"AXDescription", std::string("Close")}},
       "button",
       " ",
       "",
       false,
       true},
      {"static text is named by its value",
       "AXStaticText",
       {{"AXValue", std::string("Total: 3")}},
       "text",
       "Total: 3",
       "Total: 3",
       true,
       true},
      {"other roles are not named by their value",
       "AXButton",
       {{"AXValue", std::string("x")}},
       "button",
       "",
       "x",
       true,
       true},
      {"text field withholds typed text",
       "AXTextField",
       {{"AXTitle", std::string("Name")}, {"AXValue", std::string("Ada")}},
       "textbox",
       "Name",
       "",
       true,
       true},
      {"text area withholds its text",
       "AXTextArea",
       {{"AXValue", std::string("body")}},
       "textbox",
       "",
       "",
       true,
       true},
      {"combo box withholds its value",
       "AXComboBox",
       {{"AXValue", std::string("Red")}},
       "combobox",
       "",
       "",
       true,
       true},
      {"pop-up button withholds its value",
       "AXPopUpButton",
       {{"AXValue", std::string("Large")}},
       "combobox",
       "",
       "",
       true,
       true},
      {"check box state as text",
       "AXCheckBox",
       {{"AXTitle", std::string("Bold")}, {"AXValue", sim::number(1)}},
       "checkbox",
       "Bold",
       "1",
       true,
       true},
      {"slider position as text",
       "AXSlider",
       {{"AXValue", sim::number(0.5)}},
       "slider",
       "",
       "0.5",
       true,
       true},
      {"unknown role with a title keeps its raw role",
       "AXImage",
       {{"AXDescription", std::string("Logo")}},
       "AXImage",
       "Logo",
       "",
       false,
       true},
      {"no readable role", "", {{"AXTitle", std::string("Thing")}}, "", "Thing", "", false, true},
      {"disabled",
       "AXButton",
       {{"AXTitle", std::string("Go")}, {"AXEnabled", false}},
       "button",
       "Go",
       "",
       false,
       false},
      {"enabled that is not a boolean",
       "AXButton",
       {{"AXTitle", std::string("Go")}, {"AXEnabled", sim::number(0)}},
       "button",
       "Go",
       "",
       false,
       true},
  };
  std::size_t index = 0;
  for (const Case& c : cases) {
    const Node node =
        window.add(c.role).frame({10.0 + 40.0 * static_cast<double>(index), 10, 30, 30});
    if (std::string(c.role).empty()) node.remove("AXRole");
    for (const auto& [name, value] : c.attributes) node.set(name, value);
    ++index;
  }
  walk();
  index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Reply record = recordOf("w." + std::to_string(index++));
    EXPECT_EQ(record["role"], c.reportedRole);
    EXPECT_EQ(record["name"], c.name);
    EXPECT_EQ(record["value"], c.value);
    EXPECT_EQ(record["hasValue"], c.hasValue);
    EXPECT_EQ(record["enabled"], c.enabled);
    EXPECT_EQ(record["protected"], false);
    EXPECT_EQ(record.size(), 11u);
  }
}

TEST_F(WalkTest, SecureTextFieldIsNeverReadAndNeverWalked) {
  const Node field = window.add("AXTextField")
                         .subrole("AXSecureTextField")
                         .title("Password")
                         .description("Your password")
                         .value(std::string("hunter2"))
                         .identifier("pw")
                         .frame({100, 100, 200, 30});
  const Node inner =
      field.add("AXStaticText").value(std::string("hunter2")).frame({100, 100, 50, 30});
  walk();

  // One request, with no texts in it; no hit test, no children.
  EXPECT_EQ(callsOn(desktop, field), (std::vector<std::string>{kDecidingBatch}));
  EXPECT_FALSE(desktop.touched(inner));
  EXPECT_FALSE(hitTestedAt(desktop, 200, 115));
  EXPECT_EQ(recordOf("w.0"), Reply::parse(R"({
    "bounds": {"height": 30.0, "width": 200.0, "x": 100.0, "y": 100.0},
    "enabled": true, "focused": false, "hasValue": false, "hittable": false,
    "id": "812:w.0", "identifier": "pw", "name": "", "protected": true,
    "role": "textbox", "value": ""})"));
}

TEST_F(WalkTest, ProtectedContentHidesTextsAndSubtree) {
  // Not in the role table and nameless once its title goes unread: no record.
  const Node vault = window.add("AXGroup").title("Vault").frame({10, 10, 100, 100});
  vault.set("AXProtectedContent", true);
  const Node vaultChild = vault.add("AXButton").title("Open").frame({20, 20, 50, 20});
  // In the role table: a record, without texts.
  const Node notes = window.add("AXTextArea").title("Notes").frame({200, 10, 100, 100});
  notes.set("AXProtectedContent", true).value(std::string("secret"));
  // A protected-content value that is not a boolean protects nothing.
  const Node plain = window.add("AXButton").title("Plain").frame({400, 10, 50, 20});
  plain.set("AXProtectedContent", sim::number(1));
  walk();

  EXPECT_EQ(callsOn(desktop, vault), (std::vector<std::string>{kDecidingBatch}));
  EXPECT_FALSE(desktop.touched(vaultChild));
  for (const char* attribute : {"AXTitle", "AXDescription", "AXValue"}) {
    EXPECT_FALSE(desktop.wasRead(notes, attribute)) << attribute;
  }
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w", "812:w.1", "812:w.2"}));
  const Reply notesRecord = recordOf("w.1");
  EXPECT_EQ(notesRecord["protected"], true);
  EXPECT_EQ(notesRecord["name"], "");
  EXPECT_EQ(notesRecord["hasValue"], false);
  EXPECT_EQ(notesRecord["hittable"], false);
  EXPECT_EQ(recordOf("w.2")["protected"], false);
  EXPECT_EQ(recordOf("w.2")["name"], "Plain");
}

TEST_F(WalkTest, FocusedProtectedElementIsRecordedButNotWalked) {
  const Node vault = window.add("AXGroup").title("Vault").frame({10, 10, 100, 100});
  vault.set("AXProtectedContent", true);
  const Node vaultChild = vault.add("AXButton").title("Open").frame({20, 20, 50, 20});
  walk(vault);

  EXPECT_EQ(ids(), (std::vector<std::string>{"812:focus", "812:w"}));
  EXPECT_EQ(recordOf("focus")["protected"], true);
  EXPECT_EQ(recordOf("focus")["name"], "");
  EXPECT_EQ(recordOf("focus")["role"], "AXGroup");
  EXPECT_FALSE(desktop.wasRead(vault, "AXTitle"));
  EXPECT_FALSE(desktop.touched(vaultChild));
  EXPECT_EQ(desktop.callsOf(Op::count).size(), 1u);  // the window's children only
}

TEST_F(WalkTest, ReadsOnlyWhatTheDecisionNeeds) {
  // Its position fails: no record and so no texts asked for, but its children are walked.
  const Node unplaced = window.add("AXButton").title("Lost").frame({10, 10, 50, 20});
  unplaced.fail("AXPosition");
  const Node unplacedChild = unplaced.add("AXButton").title("Found").frame({10, 40, 50, 20});
  // Does not qualify: no enabled, identifier or hit test.
  const Node group = window.add("AXGroup").frame({100, 100, 100, 100});
  // Disabled: a record without a hit test.
  const Node disabled =
      window.add("AXButton").title("Later").enabled(false).frame({500, 10, 60, 20});
  walk();

  EXPECT_EQ(callsOn(desktop, unplaced),
            (std::vector<std::string>{kDecidingBatch, "count AXChildren", "readValues AXChildren"}));
  EXPECT_EQ(callsOn(desktop, group),
            (std::vector<std::string>{kDecidingBatch, kTextBatch, "count AXChildren"}));
  EXPECT_EQ(callsOn(desktop, disabled), concat(kQualifyingReads, {"count AXChildren"}));
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w", "812:w.0.0", "812:w.2"}));
  EXPECT_TRUE(desktop.touched(unplacedChild));
  // Hit tests only for the window and the found button.
  EXPECT_EQ(desktop.callsOf(Op::hitTest).size(), 2u);
  EXPECT_FALSE(hitTestedAt(desktop, 530, 20));
  EXPECT_EQ(recordOf("w.2")["hittable"], false);
  EXPECT_EQ(recordOf("w.2")["enabled"], false);
}

TEST_F(WalkTest, FocusedElementGetsOneRecordFirstAndItsChildrenAreWalked) {
  const Node group = window.add("AXGroup").frame({0, 0, 400, 300});
  const Node field = group.add("AXTextField").title("Name").frame({10, 10, 200, 30});
  field.add("AXStaticText").value(std::string("hint")).frame({10, 10, 50, 30});
  window.add("AXButton").title("OK").frame({300, 400, 60, 30});
  walk(field);

  EXPECT_EQ(ids(), (std::vector<std::string>{"812:focus", "812:w", "812:w.0.0.0", "812:w.1"}));
  EXPECT_TRUE(state->includedFocusedElement);
  EXPECT_EQ(recordOf("focus")["focused"], true);
  EXPECT_EQ(recordOf("w")["focused"], false);
  // The walk's second encounter asks for no texts, then descends.
  EXPECT_EQ(callsOn(desktop, field),
            concat(kQualifyingReads, {kDecidingBatch, "count AXChildren", "readValues AXChildren"}));
  EXPECT_EQ(state->visited, 5);  // the second encounter counts; the evaluation before does not
}

TEST_F(WalkTest, FocusedWindowIsRecordedOnceAsFocus) {
  window.add("AXButton").title("OK").frame({10, 10, 60, 30});
  walk(window);
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:focus", "812:w.0"}));
  EXPECT_EQ(recordOf("focus")["role"], "window");
}

TEST_F(WalkTest, FocusedElementWithoutFrameIsEvaluatedAgainByTheWalk) {
  const Node field = window.add("AXTextField").title("Name");
  window.add("AXButton").title("OK").frame({300, 400, 60, 30});
  begin(field);
  EXPECT_FALSE(appendElement(desktop, *state, field.element(), "focus", kPid));
  EXPECT_TRUE(state->elements.empty());
  EXPECT_FALSE(state->includedFocusedElement);

  field.frame({10, 10, 200, 30});  // laid out by the time the walk reaches it
  visit(desktop, *state, window.element(), "w", 0, kPid);
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w", "812:focus", "812:w.1"}));
  EXPECT_TRUE(state->includedFocusedElement);
}

TEST_F(WalkTest, IdsFollowThePreOrderOfTheWalk) {
  window.frame({0, 0, 0, 600});  // the window itself does not qualify
  const Node group = window.add("AXGroup");
  group.add("AXButton").title("A").frame({10, 10, 20, 20});
  group.add("AXGroup").add("AXButton").title("B").frame({40, 10, 20, 20});
  group.add("AXButton").title("C").frame({70, 10, 20, 20});
  window.add("AXButton").title("D").frame({100, 10, 20, 20});
  window.add("AXGroup")
      .title("Flat")
      .frame({0, 50, 100, 0})
      .add("AXButton")
      .title("E")
      .frame({130, 10, 20, 20});
  walk();

  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w.0.0", "812:w.0.1.0", "812:w.0.2", "812:w.1",
                                             "812:w.2.0"}));
  EXPECT_EQ(state->visited, 9);
  EXPECT_FALSE(state->truncated);
}

TEST_F(WalkTest, AsksOnlyForTheChildrenItMayStillVisit) {
  std::vector<Node> children;
  for (int i = 0; i < 600; ++i) children.push_back(window.add("AXGroup"));
  walk();

  const auto copies = desktop.callsOf(Op::readValues);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].number, 499);  // its own visit already counts
  EXPECT_EQ(state->visited, 500);
  EXPECT_TRUE(state->truncated);
  EXPECT_TRUE(desktop.touched(children[498]));
  EXPECT_FALSE(desktop.touched(children[499]));
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w"}));
}

TEST_F(WalkTest, ChildRequestShrinksWithTheVisitsAlreadyMade) {
  std::vector<Node> second;
  for (int group = 0; group < 2; ++group) {
    const Node parent = window.add("AXGroup");
    for (int i = 0; i < 300; ++i) {
      const Node child = parent.add("AXGroup");
      if (group == 1) second.push_back(child);
    }
  }
  walk();

  std::vector<double> asked;
  for (const sim::Call& c : desktop.callsOf(Op::readValues)) asked.push_back(c.number);
  // The window (1 visit), the first group (2) and its 300 children, the second group (303).
  EXPECT_EQ(asked, (std::vector<double>{2, 300, 197}));
  EXPECT_EQ(state->visited, 500);
  EXPECT_TRUE(state->truncated);
  EXPECT_TRUE(desktop.touched(second[196]));
  EXPECT_FALSE(desktop.touched(second[197]));
}

TEST_F(WalkTest, RecordBudgetCutsTheWalk) {
  struct Case {
    int buttons;
    bool focusedInside;
    std::size_t records;
    bool truncated;
  } cases[] = {
      {158, false, 159, false},
      {159, false, 160, true},  // the last element fills the budget
      {200, false, 160, true},
      {200, true, 160, true},  // the focused element's record counts too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.buttons << " buttons, focus inside " << c.focusedInside);
    const Node start = app.addWindow("Long list", {0, 0, 800, 600});
    std::vector<Node> buttons;
    for (int i = 0; i < c.buttons; ++i) {
      buttons.push_back(start.add("AXButton").title("Item").frame({10, 10, 50, 20}));
    }
    walkWindow(start, c.focusedInside ? buttons[10] : Node());
    EXPECT_EQ(state->elements.size(), c.records);
    EXPECT_EQ(state->truncated, c.truncated);
    if (c.buttons == 200) {
      // Window, focused element and 158 others, or window and 159 buttons: w.158 is last.
      EXPECT_EQ(state->elements.back()["id"], "812:w.158");
      EXPECT_FALSE(desktop.touched(buttons[159]));
    }
  }
}

TEST_F(WalkTest, DepthLimitCutsOnlyTheDeepBranch) {
  // Side by side rather than nested on screen, so that no hit test climbs through the chain.
  std::vector<Node> chain;  // chain[d - 1] sits at depth d
  Node parent = window;
  for (int depth = 1; depth <= 30; ++depth) {
    parent = parent.add("AXButton").title("Level").frame({20.0 * depth, 10, 10, 10});
    chain.push_back(parent);
  }
  window.add("AXButton").title("After").frame({700, 500, 50, 20});
  walk();

  std::string deepest = "w";
  for (int depth = 1; depth <= 24; ++depth) deepest += ".0";
  EXPECT_EQ(state->elements.size(), 26u);  // the window, depths 1 to 24, and the later sibling
  EXPECT_EQ(state->elements[24]["id"], "812:" + deepest);
  EXPECT_EQ(state->elements.back()["id"], "812:w.1");
  EXPECT_TRUE(state->truncated);
  // Depth 24 still has its children counted and copied; depth 25 is never read.
  const auto depth24 = callsOn(desktop, chain[23]);
  EXPECT_EQ(depth24.back(), "readValues AXChildren");
  EXPECT_FALSE(desktop.touched(chain[24]));
}

TEST_F(WalkTest, ChildrenThatCannotBeCountedOrCopiedEndTheDescentQuietly) {
  const Node uncounted = window.add("AXGroup");
  uncounted.failOp(Op::count, "AXChildren");
  const Node uncopied = window.add("AXGroup");
  uncopied.failOp(Op::readValues, "AXChildren");
  const Node empty = window.add("AXGroup");
  empty.reportCount("AXChildren", 0);
  std::vector<Node> hidden;
  for (const Node& group : {uncounted, uncopied, empty}) {
    hidden.push_back(group.add("AXButton").title("Hidden").frame({10, 10, 50, 20}));
  }
  window.add("AXButton").title("After").frame({100, 100, 50, 20});
  walk();

  for (const Node& node : hidden) EXPECT_FALSE(desktop.touched(node));
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w", "812:w.3"}));
  EXPECT_FALSE(state->truncated);
}

TEST_F(WalkTest, VisitsNoMoreChildrenThanItAskedFor) {
  for (int i = 0; i < 5; ++i) {
    window.add("AXButton").title("B" + std::to_string(i)).frame({10.0 * i, 10, 10, 10});
  }
  window.reportCount("AXChildren", 2);
  desktop.ignoresMaxCount = true;  // the interface hands out all five anyway
  walk();
  EXPECT_EQ(ids(), (std::vector<std::string>{"812:w", "812:w.0", "812:w.1"}));
  EXPECT_EQ(state->visited, 3);
}

TEST_F(WalkTest, MoreChildrenThanTheBudgetTruncateEvenWhenTheCopyFails) {
  window.reportCount("AXChildren", 600).failOp(Op::readValues, "AXChildren");
  walk();
  ASSERT_EQ(desktop.callsOf(Op::readValues).size(), 1u);
  EXPECT_EQ(desktop.callsOf(Op::readValues)[0].number, 499);
  EXPECT_TRUE(state->truncated);
}

TEST_F(WalkTest, ElementCoveredByAnotherWindowIsNotHittable) {
  const Node covered = window.add("AXButton").title("Covered").frame({600, 500, 100, 40});
  window.add("AXButton").title("Clear").frame({10, 10, 100, 40});
  sim::SimApp& other = desktop.addApp(900, "Palette");
  desktop.bringToFront(other.addWindow("Tools", {550, 450, 300, 200}));
  walk();

  EXPECT_TRUE(hitTestedAt(desktop, 650, 520));
  EXPECT_EQ(recordOf("w.0")["hittable"], false);
  EXPECT_EQ(recordOf("w.1")["hittable"], true);
  EXPECT_FALSE(desktop.wasRead(covered, "AXParent"));
}

TEST_F(WalkTest, DescendantsUpToSevenLevelsBelowKeepAnElementHittable) {
  for (const int levels : {1, 7, 8, 9}) {
    SCOPED_TRACE(testing::Message() << levels << " levels");
    const Node start = app.addWindow("Nested", {0, 0, 800, 600});
    const Node button = start.add("AXButton").title("Deep").frame({100, 100, 200, 100});
    std::vector<Node> chain;  // chain.back() is what the hit test finds
    Node parent = button;
    for (int i = 0; i < levels; ++i) {
      parent = parent.add("AXGroup").frame({100, 100, 200, 100});
      chain.push_back(parent);
    }
    desktop.bringToFront(start);
    walkWindow(start);
    EXPECT_EQ(recordOf("w.0")["hittable"], levels <= 7);
    if (levels >= 8) {
      // Eight candidates are compared; the parent of the eighth is never asked for.
      EXPECT_TRUE(desktop.wasRead(chain[static_cast<std::size_t>(levels - 7)], "AXParent"));
      EXPECT_FALSE(desktop.wasRead(chain[static_cast<std::size_t>(levels - 8)], "AXParent"));
    }
  }
}

TEST_F(WalkTest, NothingAtTheCentreIsNotHittable) {
  // Scrolled out of the window, over an empty part of the screen.
  window.add("AXButton").title("Offscreen").frame({2000, 2000, 100, 40});
  walk();
  EXPECT_TRUE(hitTestedAt(desktop, 2050, 2020));
  EXPECT_EQ(recordOf("w.0")["hittable"], false);

  // A frame without area is never hit-tested.
  desktop.clearCalls();
  EXPECT_FALSE(centerIsExposed(desktop, *state, window.element(), {10, 10, 0, 40}));
  EXPECT_FALSE(centerIsExposed(desktop, *state, window.element(), {10, 10, 40, 0}));
  EXPECT_TRUE(desktop.callsOf(Op::hitTest).empty());
}

}  // namespace
}  // namespace nevo
