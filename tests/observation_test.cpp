#include "observe/observation.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "reply/emit.h"
#include "command_bounds.h"
#include "commands.h"
#include "sim_desktop.h"

namespace nevo {
namespace {

using sim::Node;
using sim::Op;
using sim::SimDesktop;

Reply failure(std::string_view status, std::string_view reason) {
  return {{"status", status}, {"reason", reason}, {"elements", Reply::array()}};
}

// The log as "op@node name" lines, with nodes named by `labels`.
std::vector<std::string> describeCalls(const SimDesktop& desktop,
                                       const std::map<int, std::string>& labels) {
  static const std::map<Op, std::string> ops = {
      {Op::trusted, "trusted"},
      {Op::createApplication, "createApplication"},
      {Op::createSystemWide, "createSystemWide"},
      {Op::setTimeout, "setTimeout"},
      {Op::read, "read"},
      {Op::readBatch, "batch"},
      {Op::count, "count"},
      {Op::readValues, "readValues"},
      {Op::hitTest, "hitTest"},
      {Op::frontmost, "frontmost"},
      {Op::now, "now"},
  };
  std::vector<std::string> lines;
  for (const sim::Call& c : desktop.calls()) {
    const auto op = ops.find(c.op);
    std::string line = op != ops.end() ? op->second : "unexpected";
    if (const auto label = labels.find(c.node); label != labels.end()) line += "@" + label->second;
    if (!c.name.empty()) line += " " + c.name;
    for (std::size_t i = 0; i < c.names.size(); ++i) line += (i == 0 ? " " : ",") + c.names[i];
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> ids(const Reply& reply) {
  std::vector<std::string> result;
  for (const Reply& record : reply["elements"]) result.push_back(record["id"]);
  return result;
}

class ObservationTest : public ::testing::Test {
 protected:
  SimDesktop desktop;
  sim::SimApp& app = desktop.addApp(812, "Notes");
  Node window = app.addWindow("Notes", {0, 0, 800, 600});

  ObservationTest() {
    app.focusWindow(window);
    desktop.setFrontmost(812);
  }
};

TEST_F(ObservationTest, RunsItsStepsInOrderAndReportsTheSnapshot) {
  const Reply reply = test::observeOn(desktop);

  EXPECT_EQ(reply, Reply::parse(R"({
    "status": "available",
    "app": {"pid": 812, "name": "Notes", "bundleId": "com.example.812"},
    "window": {"title": "Notes",
               "bounds": {"x": 0.0, "y": 0.0, "width": 800.0, "height": 600.0}},
    "elements": [{"bounds": {"height": 600.0, "width": 800.0, "x": 0.0, "y": 0.0},
                  "enabled": true, "focused": false, "hasValue": false, "hittable": true,
                  "id": "812:w", "identifier": "", "name": "Notes", "protected": false,
                  "role": "window", "value": ""}],
    "truncated": false})"));

  const std::map<int, std::string> labels = {
      {app.node().id(), "app"}, {window.id(), "w"}, {0, "system"}};
  EXPECT_EQ(describeCalls(desktop, labels), (std::vector<std::string>{
                                                "trusted",
                                                "frontmost",
                                                "createApplication",
                                                "setTimeout@app",
                                                "read@app AXRole",
                                                "read@app AXFocusedWindow",
                                                "now",  // the frame's deadline
                                                "now",  // the time left until it
                                                "setTimeout@w",
                                                "batch@w AXPosition,AXSize",
                                                "createSystemWide@system",
                                                "setTimeout@system",
                                                "setTimeout@w",
                                                "read@app AXFocusedUIElement",
                                                "now",  // the deadline
                                                "now",  // the walk's first visit
                                                "batch@w AXRole,AXSubrole,AXProtectedContent,"
                                                "AXPosition,AXSize,AXEnabled,AXIdentifier",
                                                "batch@w AXTitle,AXDescription,AXValue",
                                                "hitTest@system",
                                                "count@w AXChildren",
                                                "frontmost",
                                                "batch@app AXFocusedWindow,AXFocusedUIElement",
                                                "read@w AXTitle",
                                            }));
  // The application and the system-wide element 0.2 s; the window the frame's 1 s, then
  // for the walk the 0.2 s that the system-wide time-out gives every other element.
  std::vector<double> timeouts;
  for (const sim::Call& c : desktop.callsOf(Op::setTimeout)) timeouts.push_back(c.number);
  EXPECT_EQ(timeouts, (std::vector<double>{0.2f, 1.0f, 0.2f, 0.2f}));
  EXPECT_EQ(desktop.callsOf(Op::createApplication)[0].number, 812);
}

TEST_F(ObservationTest, FailsBeforeTheWalkWithItsReplies) {
  struct Case {
    const char* what;
    std::function<void(SimDesktop&, sim::SimApp&, const Node&)> setup;
    Reply expected;
  } cases[] = {
      {"not trusted", [](SimDesktop& d, sim::SimApp&, const Node&) { d.trusted = false; },
       failure("denied", kReasonPermissionDenied)},
      {"no frontmost application",
       [](SimDesktop& d, sim::SimApp&, const Node&) { d.setFrontmost(std::nullopt); },
       failure("unavailable", kReasonNoFrontmostApplication)},
      {"no focused window", [](SimDesktop&, sim::SimApp& a, const Node&) { a.focusWindow({}); },
       failure("unavailable", kReasonNoWindowInformation)},
      {"focused window is not an element",
       [](SimDesktop&, sim::SimApp& a, const Node&) {
         a.node().set("AXFocusedWindow", std::string("Notes"));
       },
       failure("unavailable", kReasonNoWindowInformation)},
      {"focused window without a size",
       [](SimDesktop&, sim::SimApp&, const Node& w) { w.remove("AXSize"); },
       failure("unavailable", kReasonNoWindowInformation)},
      {"focused window at a NaN position",
       [](SimDesktop&, sim::SimApp&, const Node& w) {
         w.set("AXPosition", PointValue{std::numeric_limits<double>::quiet_NaN(), 0});
       },
       failure("unavailable", kReasonNoWindowInformation)},
      {"focused window position unreadable",
       [](SimDesktop&, sim::SimApp&, const Node& w) { w.fail("AXPosition"); },
       failure("unavailable", kReasonNoWindowInformation)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop d;
    sim::SimApp& a = d.addApp(812, "Notes");
    const Node w = a.addWindow("Notes", {0, 0, 800, 600});
    a.focusWindow(w);
    d.setFrontmost(812);
    c.setup(d, a, w);

    EXPECT_EQ(test::observeOn(d), c.expected);
    // The run ended at the failing step.
    EXPECT_FALSE(d.wasRead(a.node(), "AXFocusedUIElement"));
    EXPECT_FALSE(d.wasRead(w, "AXRole"));
  }
}

TEST_F(ObservationTest, TheWindowsFrameMayTakeUntilItsDeadline) {
  // The frame is read before the system-wide time-out is set: it may take up to 1 s, or
  // the platform's default when that is shorter. Then the window, like every element of
  // the walk, gets 0.2 s per request.
  struct Case {
    const char* what;
    const char* slowAttribute;
    double latency;
    float platformDefault;
    std::string status;
    double seconds;             // the observation's duration
    bool onlyTheFrame = false;  // the window answers the walk at once
  } cases[] = {
      {"a position that takes 0.5 s", "AXPosition", 0.5, 6.0f, "available", 0.5, true},
      {"a size that is never given", "AXSize", 30, 6.0f, "unavailable", 1.0},
      {"a platform default shorter than the deadline", "AXPosition", 0.3, 0.25f, "unavailable",
       0.25},
      {"a role that the walk never gets", "AXRole", 30, 6.0f, "available", 0.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop d;
    d.defaultTimeout = c.platformDefault;
    sim::SimApp& a = d.addApp(812, "Notes");
    const Node w = a.addWindow("Notes", {0, 0, 800, 600});
    a.focusWindow(w);
    d.setFrontmost(812);
    w.latency(c.slowAttribute, c.latency);
    // The application's role, the focused window's read, then its frame's.
    if (c.onlyTheFrame) d.afterAxCalls(3, [&] { w.latency(c.slowAttribute, 0); });
    const double start = d.clock;
    const Reply reply = test::observeOn(d);
    EXPECT_EQ(reply.at("status"), c.status);
    if (c.status == "unavailable") {
      EXPECT_EQ(reply.at("reason"), kReasonNoWindowInformation);
    }
    if (c.onlyTheFrame) {
      EXPECT_EQ(reply.at("window").at("bounds"), rect({0, 0, 800, 600}));
      EXPECT_EQ(reply.at("elements").size(), 1u);
    }
    EXPECT_NEAR(d.clock - start, c.seconds, 1e-6);
    EXPECT_EQ(test::overrunProblem(d.clock - start, test::observationBound()), "");
  }
}

TEST_F(ObservationTest, DeniedRunTouchesNothingElse) {
  desktop.trusted = false;
  EXPECT_EQ(serializeReply(test::observeOn(desktop)),
            R"({"elements":[],"reason":"需要为 NEVO 开启辅助功能权限。","status":"denied"})");
  ASSERT_EQ(desktop.calls().size(), 1u);
  EXPECT_EQ(desktop.calls()[0].op, Op::trusted);
}

TEST_F(ObservationTest, UnreadablePositionEndsTheRunAfterOneFrameRequest) {
  window.fail("AXPosition");
  EXPECT_EQ(test::observeOn(desktop), failure("unavailable", kReasonNoWindowInformation));
  EXPECT_EQ(desktop.readsOf(window), (std::vector<std::string>{"AXPosition", "AXSize"}));
  EXPECT_EQ(desktop.callsOf(Op::readBatch).size(), 1u);
}

TEST_F(ObservationTest, ChangesDuringTheWalkDiscardTheSnapshot) {
  struct Scene {
    SimDesktop desktop;
    sim::SimApp& app = desktop.addApp(812, "Notes");
    Node window = app.addWindow("Notes", {0, 0, 800, 600});
    Node secondWindow = app.addWindow("Draft", {40, 40, 800, 600});
    Node field = window.add("AXTextField").title("Search").frame({10, 10, 200, 30});
    Node button = window.add("AXButton").title("OK").frame({10, 50, 80, 30});
    Node later = window.add("AXButton").title("Cancel").frame({100, 50, 80, 30});
    Scene() {
      desktop.addApp(900, "Mail").addWindow("Inbox", {0, 0, 1000, 700});
      app.focusWindow(window);
      desktop.setFrontmost(812);
    }
  };
  using Step = std::function<void(Scene&)>;
  const Step nothing = [](Scene&) {};
  const Step focusField = [](Scene& s) { s.app.focusElement(s.field); };
  struct Case {
    const char* what;
    Step before;
    Step during;
    std::string_view reason;
  } cases[] = {
      {"another application comes to the front", nothing,
       [](Scene& s) { s.desktop.setFrontmost(900); }, kReasonFrontWindowChanged},
      {"the frontmost application quits", focusField, [](Scene& s) { s.desktop.removeApp(812); },
       kReasonFrontWindowChanged},
      {"no application is in front", nothing,
       [](Scene& s) { s.desktop.setFrontmost(std::nullopt); }, kReasonFrontWindowChanged},
      {"another window of the application takes its place", focusField,
       [](Scene& s) { s.app.focusWindow(s.secondWindow); }, kReasonFrontWindowChanged},
      {"window and input focus both change", focusField,
       [](Scene& s) {
         s.app.focusWindow(s.secondWindow);
         s.app.focusElement(s.later);
       },
       kReasonFrontWindowChanged},
      {"the input focus moves", focusField, [](Scene& s) { s.app.focusElement(s.later); },
       kReasonInputFocusChanged},
      {"the input focus appears", nothing, [](Scene& s) { s.app.focusElement(s.field); },
       kReasonInputFocusChanged},
      {"the input focus goes away", focusField, [](Scene& s) { s.app.focusElement({}); },
       kReasonInputFocusChanged},
      {"the application stalls past the deadline, then the focus moves", focusField,
       [](Scene& s) {
         s.desktop.clock += 2;
         s.app.focusElement(s.later);
       },
       kReasonInputFocusChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    c.before(scene);
    // The button's title takes a moment; the change lands right after, with the walk at w.1.
    scene.button.latency("AXTitle", 0.1);
    scene.desktop.at(scene.desktop.clock + 0.05, [&] { c.during(scene); });

    EXPECT_EQ(test::observeOn(scene.desktop), failure("unavailable", c.reason));
    EXPECT_TRUE(scene.desktop.wasRead(scene.button, "AXDescription"));  // walked on after it
  }
}

TEST_F(ObservationTest, UnchangedFocusGivesTheSnapshot) {
  const Node field = window.add("AXTextField").title("Search").frame({10, 10, 200, 30});
  app.focusElement(field);
  const Reply reply = test::observeOn(desktop);
  EXPECT_EQ(reply["status"], "available");
  EXPECT_EQ(ids(reply), (std::vector<std::string>{"812:focus", "812:w"}));
}

TEST_F(ObservationTest, WindowBoundsComeFromBeforeTheWalkAndTitleFromAfter) {
  window.add("AXButton").title("OK").frame({10, 50, 80, 30}).latency("AXTitle", 0.1);
  desktop.at(desktop.clock + 0.05, [&] {
    window.title(std::string(301, 'x'));
    window.frame({5, 5, 10, 10});
  });
  const Reply reply = test::observeOn(desktop);
  EXPECT_EQ(reply["status"], "available");
  EXPECT_EQ(reply["window"], Reply::parse(R"({"title": ")" + std::string(300, 'x') + R"(",
    "bounds": {"x": 0.0, "y": 0.0, "width": 800.0, "height": 600.0}})"));
  // The window's position and size are read only by the start and the walk, never after it.
  EXPECT_EQ(desktop.readsOf(window).back(), "AXTitle");
}

TEST_F(ObservationTest, MissingNameAndBundleIdAreEmpty) {
  app.name(std::nullopt).bundleId(std::nullopt);
  const Reply reply = test::observeOn(desktop);
  EXPECT_EQ(reply["app"], Reply::parse(R"({"pid": 812, "name": "", "bundleId": ""})"));
}

TEST_F(ObservationTest, DeadlinePassingMidWalkStopsAtTheNextCheck) {
  std::vector<Node> buttons;
  for (int i = 0; i < 20; ++i) {
    // Each button's role takes 1/8 s: the 15th ends at 1.875 s, past the 1.8 s deadline.
    buttons.push_back(window.add("AXButton").title("Item").frame({10.0 + 30.0 * i, 10, 20, 20}));
    buttons.back().latency("AXRole", 0.125);
  }
  const Reply reply = test::observeOn(desktop);

  std::vector<std::string> expected = {"812:w"};
  for (int i = 0; i < 15; ++i) expected.push_back("812:w." + std::to_string(i));
  EXPECT_EQ(ids(reply), expected);
  EXPECT_EQ(reply["truncated"], true);
  EXPECT_EQ(reply["status"], "available");
  EXPECT_FALSE(desktop.touched(buttons[15]));
}

TEST_F(ObservationTest, DeadlinePassedBeforeTheWalkKeepsOnlyTheFocusedRecord) {
  const Node field = window.add("AXTextField").title("Search").frame({10, 10, 200, 30});
  const Node button = window.add("AXButton").title("OK").frame({10, 50, 80, 30});
  app.focusElement(field);
  // The focused element's hit test (the seventh request: the application's role, focused
  // window, its frame, focused element, the element's two batches, the hit test) ends after
  // the deadline.
  desktop.afterAxCalls(7, [&] { desktop.clock += kObservationWalkSeconds; });
  const Reply reply = test::observeOn(desktop);

  EXPECT_EQ(reply["status"], "available");
  EXPECT_EQ(ids(reply), (std::vector<std::string>{"812:focus"}));
  EXPECT_EQ(reply["truncated"], true);
  EXPECT_FALSE(desktop.wasRead(window, "AXRole"));
  EXPECT_FALSE(desktop.touched(button));
}

TEST_F(ObservationTest, ReadsAnElementThatGetsNoRecordInAtMostFourRequests) {
  // 20 groups of 15 unnamed images: 321 elements, none of them but the window recorded.
  // They fill the window's top, so that its hit test finds the window itself.
  std::vector<Node> tree = {window};
  for (int g = 0; g < 20; ++g) {
    const Node group = window.add("AXGroup").frame({0, g * 10.0, 800, 10});
    tree.push_back(group);
    for (int i = 0; i < 15; ++i) {
      tree.push_back(group.add("AXImage").frame({i * 50.0, g * 10.0, 40, 8}));
    }
  }
  const Reply reply = test::observeOn(desktop);
  ASSERT_EQ(reply["status"], "available");
  EXPECT_EQ(reply["truncated"], false);
  EXPECT_EQ(ids(reply), (std::vector<std::string>{"812:w"}));

  std::map<int, int> requests;
  for (const sim::Call& c : desktop.calls()) {
    if (c.op == Op::read || c.op == Op::readBatch || c.op == Op::count || c.op == Op::readValues) {
      ++requests[c.node];
    }
  }
  for (const Node& element : tree) {
    if (element == window) continue;  // the window is recorded, and read again at the end
    EXPECT_LE(requests[element.id()], 4) << "node " << element.id();
  }
  // Two batches, a count and (for the groups) a copy of the children.
  EXPECT_EQ(requests[tree[1].id()], 4);
  EXPECT_EQ(requests[tree[2].id()], 3);
}

TEST(ObservationProtection, NoProtectedTextIsRequestedOrReported) {
  const std::string marker = "hunter2-marker";
  struct Case {
    const char* what;
    std::string role;
    std::optional<std::string> subrole;
    bool protectedContent;
    bool focused;
    bool recorded;  // in the role table, or focused
  } cases[] = {
      {"secure text field", "AXTextField", "AXSecureTextField", false, false, true},
      {"focused secure text field", "AXTextField", "AXSecureTextField", false, true, true},
      {"secure subrole on a group", "AXGroup", "AXSecureTextField", false, false, false},
      {"protected text area", "AXTextArea", std::nullopt, true, false, true},
      {"protected group", "AXGroup", std::nullopt, true, false, false},
      {"focused protected group", "AXGroup", std::nullopt, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimDesktop desktop;
    sim::SimApp& app = desktop.addApp(812, "Notes");
    const Node window = app.addWindow("Notes", {0, 0, 800, 600});
    const Node element = window.add(c.role);
    if (c.subrole) element.subrole(*c.subrole);
    if (c.protectedContent) element.set("AXProtectedContent", true);
    element.title(marker).description(marker).value(std::string(marker)).frame({10, 10, 200, 30});
    element.add("AXStaticText").value(std::string(marker)).frame({12, 12, 50, 20});
    app.focusWindow(window);
    if (c.focused) app.focusElement(element);
    desktop.setFrontmost(812);

    const std::string line = *serializeReply(test::observeOn(desktop));
    EXPECT_EQ(line.find("\"protected\":true") != std::string::npos, c.recorded) << line;
    EXPECT_EQ(line.find(marker), std::string::npos) << line;
    for (const char* attribute : {"AXTitle", "AXDescription", "AXValue"}) {
      EXPECT_FALSE(desktop.wasRead(element, attribute)) << attribute;
    }
  }
}

// A compose window with most kinds of element, written out as the exact line the host reads.
TEST(ObservationLine, ComposeWindow) {
  SimDesktop desktop;
  sim::SimApp& mail = desktop.addApp(4242, "Mail");
  mail.bundleId("com.example.mail");
  const Node window = mail.addWindow("新邮件", {100, 50, 800, 600});
  const Node toolbar = window.add("AXGroup").frame({100, 50, 800, 60});
  toolbar.add("AXButton").title("Send").identifier("send").frame({110, 60, 80, 40});
  toolbar.add("AXButton").description("Attach").enabled(false).frame({200, 60, 80, 40});
  window.add("AXStaticText").value(std::string("To:")).frame({110, 130, 40, 20});
  const Node to = window.add("AXTextField")
                      .title("To")
                      .value(std::string("bob@example.com"))
                      .identifier("to")
                      .frame({160.5, 125, 600, 30.25});
  const Node password = window.add("AXTextField")
                            .subrole("AXSecureTextField")
                            .title("Password")
                            .value(std::string("hunter2"))
                            .identifier("password")
                            .frame({160, 170, 600, 30});
  const Node secret =
      password.add("AXStaticText").value(std::string("hunter2")).frame({165, 175, 100, 20});
  window.add("AXCheckBox").title("Save draft").value(sim::number(1)).frame({110, 220, 120, 20});
  const Node body = window.add("AXScrollArea").frame({100, 260, 800, 300});
  body.add("AXGroup")
      .frame({100, 260, 800, 300})
      .add("AXStaticText")
      .value(std::string("Hello Bob, see https://example.com/notes"))
      .frame({110, 270, 400, 20});
  window.add("AXButton").title("Discard").frame({700, 600, 80, 30});
  window.add("AXButton").title("Hidden").frame({300, 300, 0, 0});
  window.add("AXImage").description("Logo").frame({840, 60, 40, 40});
  mail.focusWindow(window).focusElement(to);
  desktop.setFrontmost(4242);
  // Another application's palette floats over the Discard button.
  desktop.bringToFront(desktop.addApp(5000, "Palette").addWindow("Tools", {650, 560, 300, 200}));

  const std::string expected =
      R"({"app":{"bundleId":"com.example.mail","name":"Mail","pid":4242},"elements":[)"
      R"({"bounds":{"height":30.25,"width":600.0,"x":160.5,"y":125.0},"enabled":true,)"
      R"("focused":true,"hasValue":true,"hittable":true,"id":"4242:focus","identifier":"to",)"
      R"("name":"To","protected":false,"role":"textbox","value":""},)"
      R"({"bounds":{"height":600.0,"width":800.0,"x":100.0,"y":50.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":true,"id":"4242:w","identifier":"",)"
      R"("name":"新邮件","protected":false,"role":"window","value":""},)"
      R"({"bounds":{"height":40.0,"width":80.0,"x":110.0,"y":60.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":true,"id":"4242:w.0.0",)"
      R"("identifier":"send","name":"Send","protected":false,"role":"button","value":""},)"
      R"({"bounds":{"height":40.0,"width":80.0,"x":200.0,"y":60.0},"enabled":false,)"
      R"("focused":false,"hasValue":false,"hittable":false,"id":"4242:w.0.1",)"
      R"("identifier":"","name":"Attach","protected":false,"role":"button","value":""},)"
      R"({"bounds":{"height":20.0,"width":40.0,"x":110.0,"y":130.0},"enabled":true,)"
      R"("focused":false,"hasValue":true,"hittable":true,"id":"4242:w.1","identifier":"",)"
      R"("name":"To:","protected":false,"role":"text","value":"To:"},)"
      R"({"bounds":{"height":30.0,"width":600.0,"x":160.0,"y":170.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":false,"id":"4242:w.3",)"
      R"("identifier":"password","name":"","protected":true,"role":"textbox","value":""},)"
      R"({"bounds":{"height":20.0,"width":120.0,"x":110.0,"y":220.0},"enabled":true,)"
      R"("focused":false,"hasValue":true,"hittable":true,"id":"4242:w.4","identifier":"",)"
      R"("name":"Save draft","protected":false,"role":"checkbox","value":"1"},)"
      R"({"bounds":{"height":300.0,"width":800.0,"x":100.0,"y":260.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":true,"id":"4242:w.5","identifier":"",)"
      R"("name":"","protected":false,"role":"scrollarea","value":""},)"
      R"({"bounds":{"height":20.0,"width":400.0,"x":110.0,"y":270.0},"enabled":true,)"
      R"("focused":false,"hasValue":true,"hittable":true,"id":"4242:w.5.0.0","identifier":"",)"
      R"("name":"Hello Bob, see https:\/\/example.com\/notes","protected":false,"role":"text",)"
      R"("value":"Hello Bob, see https:\/\/example.com\/notes"},)"
      R"({"bounds":{"height":30.0,"width":80.0,"x":700.0,"y":600.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":false,"id":"4242:w.6","identifier":"",)"
      R"("name":"Discard","protected":false,"role":"button","value":""},)"
      R"({"bounds":{"height":40.0,"width":40.0,"x":840.0,"y":60.0},"enabled":true,)"
      R"("focused":false,"hasValue":false,"hittable":true,"id":"4242:w.8","identifier":"",)"
      R"("name":"Logo","protected":false,"role":"AXImage","value":""}],)"
      R"("status":"available","truncated":false,)"
      R"("window":{"bounds":{"height":600.0,"width":800.0,"x":100.0,"y":50.0},"title":"新邮件"}})";
  EXPECT_EQ(serializeReply(test::observeOn(desktop)), expected);
  for (const char* attribute : {"AXTitle", "AXDescription", "AXValue"}) {
    EXPECT_FALSE(desktop.wasRead(password, attribute)) << attribute;
  }
  EXPECT_FALSE(desktop.touched(secret));
}

}  // namespace
}  // namespace nevo
