#include "focus/resolve_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "reply/emit.h"
#include "focus/activation.h"
#include "focus/focus_window.h"
#include "command_bounds.h"
#include "commands.h"
#include "sim_desktop.h"
#include "windows/applications.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

using nlohmann::json;
using sim::Node;
using sim::Op;
using sim::SimApp;
using sim::SimDesktop;

const Rect kDraftFrame{100.5, 40, 800, 600};

// An editor (pid 321) with three windows, the first one focused, in front of a mail
// application (pid 500).
struct Editor {
  SimDesktop desktop;
  Node draft;
  Node notes;
  Node log;

  Editor() {
    SimApp& editor = desktop.addApp(321, "Editor");
    draft = editor.addWindow("Draft", kDraftFrame);
    notes = editor.addWindow("Notes", {0, 0, 400, 300});
    log = editor.addWindow("Log", {900, 40, 300, 700});
    editor.focusWindow(draft);
    desktop.addApp(500, "Mail").addWindow("Inbox", {0, 0, 1000, 800});
    desktop.setFrontmost(321);
  }

  SimApp& app() { return desktop.app(321); }

  // The entry a --windows run gives now for the window titled `title`, as the host
  // would write it back.
  std::string listedEntry(std::string_view title) {
    const json reply = json::parse(serializeReply(test::listWindowsOn(desktop)).value());
    for (const json& entry : reply.at("windows")) {
      if (entry.at("title") == title) return serializeReply(entry).value();
    }
    ADD_FAILURE() << "no entry titled " << title << " in " << reply;
    return {};
  }

  // The request of an entry, as the input phase reads it.
  FocusRequest request(const std::string& entry) {
    OrReply<FocusRequest> parsed = parseFocusRequest(entry);
    EXPECT_TRUE(std::holds_alternative<FocusRequest>(parsed));
    return std::get<FocusRequest>(parsed);
  }

  // Runs --focus with `entry` on standard input.
  Reply focus(const std::string& entry) {
    desktop.standardInput = entry;
    desktop.clearCalls();
    return test::focusWindowOn(desktop);
  }

  // Whether the last command restored, activated or raised anything.
  bool changedTheScreen() const {
    return !desktop.callsOf(Op::write).empty() || !desktop.callsOf(Op::activate).empty() ||
           !desktop.callsOf(Op::action).empty();
  }
};

TEST(ResolveTarget, FindsTheListedWindow) {
  struct Case {
    const char* name;
    const char* title;
    std::function<void(Editor&)> before;  // before the listing
    std::function<void(Editor&)> after;   // between the listing and --focus
    bool minimized = false;
  } cases[] = {
      {"nothing changed", "Draft", nullptr, nullptr},
      {"a window that is not focused", "Log", nullptr, nullptr},
      {"another window moved", "Log", nullptr,
       [](Editor& e) {
         e.notes.frame({5, 5, 400, 300});
       }},
      {"a window opened after it", "Notes", nullptr,
       [](Editor& e) {
         e.app().addWindow("Scratch", {1, 1, 100, 100});
       }},
      {"a minimized window", "Notes", [](Editor& e) { e.notes.minimized(true); }, nullptr, true},
      {"minimized state unreadable", "Notes",
       [](Editor& e) { e.notes.fail("AXMinimized", AxStatus::attributeUnsupported); }, nullptr},
      {"application name now in decomposed form", "Notes",
       [](Editor& e) { e.app().name("Caf\u00e9"); }, [](Editor& e) { e.app().name("Cafe\u0301"); }},
      {"title now in decomposed form", "Caf\u00e9", [](Editor& e) { e.notes.title("Caf\u00e9"); },
       [](Editor& e) { e.notes.title("Cafe\u0301"); }},
      {"an application of the same name runs beside it", "Log", nullptr,
       [](Editor& e) {
         e.desktop.addApp(777, "Editor").addWindow("Log", {900, 40, 300, 700});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Editor e;
    if (c.before) c.before(e);
    const FocusRequest request = e.request(e.listedEntry(c.title));
    if (c.after) c.after(e);
    e.desktop.clearCalls();

    OrReply<FocusTarget> result = resolveTarget(e.desktop, request);
    ASSERT_TRUE(std::holds_alternative<FocusTarget>(result)) << std::get<Reply>(result);
    const FocusTarget& target = std::get<FocusTarget>(result);
    const Node expected = e.app().windows().at(static_cast<std::size_t>(request.index));
    EXPECT_TRUE(target.window == expected.element());
    EXPECT_TRUE(target.applicationElement == e.app().node().element());
    EXPECT_EQ(target.application.processIdentifier, 321);
    EXPECT_EQ(target.isMinimized, c.minimized);
    EXPECT_FALSE(e.changedTheScreen());

    // The application element gets its short time-out before anything is read through it.
    const auto& calls = e.desktop.calls();
    const auto first = std::find_if(calls.begin(), calls.end(), [&](const sim::Call& call) {
      return call.node == e.app().node().id();
    });
    ASSERT_NE(first, calls.end());
    EXPECT_EQ(first->op, Op::setTimeout);
    EXPECT_FLOAT_EQ(static_cast<float>(first->number), static_cast<float>(test::kApplicationSeconds));
  }
}

TEST(ResolveTarget, RefusesAStaleEntryWithTheReasonThatFits) {
  struct Story {
    const char* name;
    const char* title;
    std::function<void(Editor&)> change;  // between the listing and --focus
    std::string_view reason;
    std::function<void(Editor&)> before = nullptr;  // before the listing
  } stories[] = {
      {"the application quit", "Draft", [](Editor& e) { e.desktop.removeApp(321); },
       kReasonApplicationChanged},
      {"the pid now belongs to another application", "Draft",
       [](Editor& e) {
         e.desktop.removeApp(321);
         e.desktop.addApp(321, "Terminal").addWindow("Draft", kDraftFrame);
       },
       kReasonApplicationChanged},
      {"the application was renamed", "Draft", [](Editor& e) { e.app().name("Editor Pro"); },
       kReasonApplicationChanged},
      {"the application lost its name", "Draft", [](Editor& e) { e.app().name(std::nullopt); },
       kReasonApplicationChanged},
      {"the application became an accessory", "Draft", [](Editor& e) { e.app().policy(1); },
       kReasonApplicationChanged},
      {"the application is terminating", "Draft", [](Editor& e) { e.app().terminated(true); },
       kReasonApplicationChanged},
      {"the pid is now the tool's own", "Draft", [](Editor& e) { e.desktop.ownPid = 321; },
       kReasonApplicationChanged},
      {"windows before it closed", "Log",
       [](Editor& e) {
         e.app().closeWindow(e.draft);
         e.app().closeWindow(e.notes);
       },
       kReasonWindowChanged},
      {"its windows cannot be read", "Draft", [](Editor& e) { e.app().node().fail("AXWindows"); },
       kReasonWindowChanged},
      {"more than 80 windows are open", "Log",
       [](Editor& e) {
         for (int i = 0; i < 78; ++i) {
           e.app().addWindow("Extra " + std::to_string(i), {0, 0, 10.0 + i, 10});
         }
       },
       kReasonIncompleteCheck},
      {"more windows reported than handed out", "Notes",
       [](Editor& e) { e.app().node().reportCount("AXWindows", 200); }, kReasonIncompleteCheck},
      {"more windows reported, fewer than the index handed out", "Log",
       [](Editor& e) {
         e.app().closeWindow(e.draft);
         e.app().closeWindow(e.notes);
         e.app().node().reportCount("AXWindows", 200);
       },
       kReasonWindowChanged},
      {"the windows answer too slowly", "Draft",
       [](Editor& e) {
         for (const Node& window : e.app().windows()) window.latency("AXTitle", 0.3);
       },
       kReasonIncompleteCheck},
      {"the window moved by one point", "Draft",
       [](Editor& e) {
         e.draft.frame({101.5, 40, 800, 600});
       },
       kReasonAmbiguousWindow},
      {"the window grew by a hair", "Draft",
       [](Editor& e) {
         e.draft.frame({100.5, 40, 800.0000000001, 600});
       },
       kReasonAmbiguousWindow},
      {"the window was retitled", "Draft", [](Editor& e) { e.draft.title("Draft 2"); },
       kReasonAmbiguousWindow},
      {"the window was minimized", "Draft", [](Editor& e) { e.draft.minimized(true); },
       kReasonAmbiguousWindow},
      {"the window was restored", "Notes", [](Editor& e) { e.notes.minimized(false); },
       kReasonAmbiguousWindow, [](Editor& e) { e.notes.minimized(true); }},
      {"the window lost its frame", "Draft", [](Editor& e) { e.draft.remove("AXSize"); },
       kReasonAmbiguousWindow},
      {"an identical window opened", "Draft",
       [](Editor& e) { e.app().addWindow("Draft", kDraftFrame); }, kReasonAmbiguousWindow},
      {"the focus moved to another of its windows", "Draft",
       [](Editor& e) { e.app().focusWindow(e.notes); }, kReasonStateChanged},
      {"another application came to the front", "Draft",
       [](Editor& e) { e.desktop.setFrontmost(500); }, kReasonStateChanged},
      {"no application is in front", "Draft", [](Editor& e) { e.desktop.setFrontmost({}); },
       kReasonStateChanged},
      {"the focused window cannot be read", "Draft",
       [](Editor& e) { e.app().node().fail("AXFocusedWindow"); }, kReasonStateChanged},
      {"the listed window has since become focused", "Notes",
       [](Editor& e) { e.app().focusWindow(e.notes); }, kReasonStateChanged},
      {"the window moved to another position in the list", "Log",
       [](Editor& e) {
         e.app().closeWindow(e.draft);
         e.app().addWindow("Scratch", {1, 1, 100, 100});
       },
       kReasonStateChanged},
      {"another window took on its identity", "Draft",
       [](Editor& e) {
         e.draft.title("Draft (old)");
         e.notes.title("Draft").frame(kDraftFrame);
       },
       kReasonStateChanged},
      {"the window moved and a namesake opened where it was", "Draft",
       [](Editor& e) {
         e.draft.frame({300, 40, 800, 600});
         e.app().addWindow("Draft", kDraftFrame);
       },
       kReasonStateChanged},
      {"the window was minimized and a namesake opened over it", "Draft",
       [](Editor& e) {
         e.draft.minimized(true);
         e.app().addWindow("Draft", kDraftFrame);
       },
       kReasonStateChanged},
  };
  for (const Story& s : stories) {
    SCOPED_TRACE(s.name);
    Editor e;
    if (s.before) s.before(e);
    const std::string entry = e.listedEntry(s.title);
    s.change(e);
    EXPECT_EQ(e.focus(entry), unavailableReply(s.reason));
    EXPECT_FALSE(e.changedTheScreen());
  }
}

TEST(ResolveTarget, WaitsForWindowsSlowerThanTheApplicationTimeOut) {
  // The application time-out (0.05 s) bounds the application's own requests; a window's
  // may take until the records' deadline, and the target's until its own.
  struct Case {
    const char* what;
    std::function<void(Editor&)> slow;  // before the listing and for the command
  } cases[] = {
      {"a window that answers its title in 0.1 s",
       [](Editor& e) { e.draft.latency("AXTitle", 0.1); }},
      {"every window 0.25 s",
       [](Editor& e) {
         for (const Node& window : e.app().windows()) window.latency("AXTitle", 0.25);
       }},
      {"a target that takes 0.7 s for its frame",
       [](Editor& e) { e.draft.latency("AXSize", 0.7); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Editor e;
    c.slow(e);
    const std::string entry = e.listedEntry("Draft");
    EXPECT_EQ(e.focus(entry), Reply({{"status", "focused"}}));
    EXPECT_EQ(e.desktop.frontmostPid(), 321);
  }
}

TEST(ResolveTarget, AWindowThatNeverAnswersEndsTheCommandWithinItsBound) {
  // The target stops answering at one point of the command: each request through it then
  // ends at the deadline of its part, and so does the command.
  struct Case {
    const char* what;
    int answeredCalls;  // accessibility calls of the command answered before the hang
    const char* attribute;
    std::string_view reason;
    double seconds;  // when the command ends
  } cases[] = {
      // The window list's two requests, then one per window, the focus test, the target's
      // live check, the raise, and the verification's two reads per test.
      {"in the records", 2, "AXTitle", kReasonIncompleteCheck, test::kRecordsSeconds},
      {"in its live check", 6, "AXTitle", kReasonStateChanged, test::kTargetSeconds},
      {"in the raise", 7, "AXRaise", kReasonSwitchFailed, test::kTargetSeconds},
      {"in the verification", 8, "AXMinimized", kReasonFocusUnconfirmed,
       test::kVerificationSeconds + test::kApplicationSeconds + test::kWaitSliceSeconds},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Editor e;
    const std::string entry = e.listedEntry("Draft");
    e.desktop.afterAxCalls(e.desktop.axCalls() + c.answeredCalls,
                           [&e, &c] { e.draft.latency(c.attribute, 30); });
    const double start = e.desktop.clock;
    EXPECT_EQ(e.focus(entry), unavailableReply(c.reason));
    EXPECT_NEAR(e.desktop.clock - start, c.seconds, 1e-6);
    EXPECT_EQ(test::overrunProblem(e.desktop.clock - start, test::focusBound()), "");
  }
}

TEST(ResolveTarget, LooksAtNoMoreThan80Windows) {
  Editor e;
  const std::string entry = e.listedEntry("Notes");
  for (int i = 0; i < 100; ++i) e.app().addWindow("Extra " + std::to_string(i), {0, 0, 10, 10});
  EXPECT_EQ(e.focus(entry), unavailableReply(kReasonIncompleteCheck));
  const auto fetches = e.desktop.callsOf(Op::readValues);
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].number, 80.0);
  // The cut list is refused before any window is read.
  for (const Node& window : e.app().windows()) EXPECT_FALSE(e.desktop.touched(window));
}

TEST(ResolveTargetRoundTrip, AnEntryWrittenByTheListFindsTheSameWindow) {
  struct Window {
    std::string title;
    Rect frame;
    bool minimized;
  };
  const std::vector<Window> windows = {
      {"Fractions", {0.1 + 0.2, -7.3, 1 / 3.0, 2 / 3.0}, false},
      {"Tiny and far", {-1e6 - 0.05, 1e-7, 1e-300, 123456789.123456789}, false},
      {"Path a/b \\ \"quoted\"", {1.0 / 7, 2.0 / 7, 3.0 / 7, 4.0 / 7}, false},
      {"Caf\u00e9 ☺️ 日本語", {10, 20, 640.25, 480.75}, true},
      {"", {5e-324, -5e-324, 0.1, 0.7}, false},
  };
  for (std::size_t i = 0; i < windows.size(); ++i) {
    SCOPED_TRACE(windows[i].title);
    SimDesktop desktop;
    SimApp& app = desktop.addApp(4242, "Résumé Builder");
    std::vector<Node> nodes;
    for (const Window& w : windows) nodes.push_back(app.addWindow(w.title, w.frame));
    for (std::size_t j = 0; j < windows.size(); ++j) nodes[j].minimized(windows[j].minimized);
    app.focusWindow(nodes[0]);
    desktop.addApp(500, "Mail").addWindow("Inbox", {0, 0, 1000, 800});
    desktop.setFrontmost(500);

    const std::string line = serializeReply(test::listWindowsOn(desktop)).value();
    const json listed = json::parse(line).at("windows");
    ASSERT_EQ(listed.size(), windows.size() + 1);
    const json& entry = listed.at(i + 1);  // the mail application's window comes first
    ASSERT_EQ(entry.at("id"), "4242:" + std::to_string(i));
    desktop.standardInput = serializeReply(entry).value();

    EXPECT_EQ(test::focusWindowOn(desktop), json({{"status", "focused"}}));
    EXPECT_EQ(desktop.frontmostPid(), 4242);
    const OrReply<FocusRequest> request = parseFocusRequest(desktop.standardInput);
    ASSERT_TRUE(std::holds_alternative<FocusRequest>(request));
    const Rect& read = std::get<FocusRequest>(request).bounds;
    EXPECT_EQ(read.x, windows[i].frame.x);
    EXPECT_EQ(read.y, windows[i].frame.y);
    EXPECT_EQ(read.width, windows[i].frame.width);
    EXPECT_EQ(read.height, windows[i].frame.height);
    const AttributeRead focused =
        desktop.copyAttributeValue(app.node().element(), "AXFocusedWindow");
    ASSERT_NE(focused.value.get<Element>(), nullptr);
    EXPECT_TRUE(*focused.value.get<Element>() == nodes[i].element());
  }
}

}  // namespace
}  // namespace nevo
