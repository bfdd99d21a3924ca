#include "focus/activation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "command_bounds.h"
#include "reply/emit.h"
#include "sim_desktop.h"
#include "windows/applications.h"

namespace nevo {
namespace {

using sim::Call;
using sim::Node;
using sim::Op;
using sim::SimApp;
using sim::SimDesktop;

// An editor (pid 321) with two windows, "Notes" focused, behind a mail application
// (pid 500).
struct Scene {
  SimDesktop desktop;
  Node draft;
  Node notes;

  Scene() {
    SimApp& editor = desktop.addApp(321, "Editor");
    draft = editor.addWindow("Draft", {100, 40, 800, 600});
    notes = editor.addWindow("Notes", {0, 0, 400, 300});
    editor.focusWindow(notes);
    desktop.addApp(500, "Mail").addWindow("Inbox", {0, 0, 1000, 800});
    desktop.setFrontmost(500);
  }

  SimApp& app() { return desktop.app(321); }

  // What target resolution hands over for `window`, its deadline taken now; the log starts
  // afterwards.
  FocusTarget target(const Node& window, bool isMinimized) {
    FocusTarget t{desktop.runningApplication(321).value(), applicationElement(desktop, 321),
                  window.element(), isMinimized, desktop.clock + kTargetSeconds};
    desktop.clearCalls();
    return t;
  }

  std::vector<Op> operations() const {
    std::vector<Op> ops;
    for (const Call& call : desktop.calls()) {
      if (call.op == Op::write || call.op == Op::activate || call.op == Op::action) {
        ops.push_back(call.op);
      }
    }
    return ops;
  }

  // Focus tests made: each one starts by asking for the frontmost application.
  std::size_t focusTests() const { return desktop.callsOf(Op::frontmost).size(); }
};

TEST(Activation, StillActivatesAndRaisesAWindowThatAlreadyHasFocus) {
  Scene s;
  s.app().focusWindow(s.draft);
  s.desktop.setFrontmost(321);
  const Reply reply = activateAndVerify(s.desktop, s.target(s.draft, false));
  EXPECT_EQ(serializeReply(reply), R"({"status":"focused"})");
  EXPECT_EQ(s.operations(), (std::vector<Op>{Op::activate, Op::action}));
  const auto activations = s.desktop.callsOf(Op::activate);
  EXPECT_EQ(activations.at(0).number, 321);
  EXPECT_EQ(activations.at(0).second, kActivateIgnoringOtherApps);
  const auto actions = s.desktop.callsOf(Op::action);
  EXPECT_EQ(actions.at(0).name, "AXRaise");
  EXPECT_EQ(actions.at(0).node, s.draft.id());
  // The first test succeeds: no wait.
  EXPECT_EQ(s.focusTests(), 1u);
  EXPECT_TRUE(s.desktop.callsOf(Op::runLoop).empty());
}

TEST(Activation, RestoresAMinimizedWindowBeforeActivatingIt) {
  Scene s;
  s.draft.minimized(true);
  const Reply reply = activateAndVerify(s.desktop, s.target(s.draft, true));
  EXPECT_EQ(reply, Reply({{"status", "focused"}}));
  EXPECT_EQ(s.operations(), (std::vector<Op>{Op::write, Op::activate, Op::action}));
  const auto writes = s.desktop.callsOf(Op::write);
  EXPECT_EQ(writes.at(0).node, s.draft.id());
  EXPECT_EQ(writes.at(0).name, "AXMinimized");
  EXPECT_EQ(writes.at(0).number, 0);
  EXPECT_EQ(booleanAttribute(s.desktop, s.draft.element(), "AXMinimized"), false);
  EXPECT_EQ(s.desktop.frontmostPid(), 321);
}

TEST(Activation, DoesNotActivateWhenTheRestoreIsRefused) {
  Scene s;
  s.draft.minimized(true).failOp(Op::write, "AXMinimized", AxStatus::attributeUnsupported);
  const Reply reply = activateAndVerify(s.desktop, s.target(s.draft, true));
  EXPECT_EQ(reply, unavailableReply(kReasonRestoreRefused));
  EXPECT_EQ(s.operations(), std::vector<Op>{Op::write});
  EXPECT_EQ(s.desktop.frontmostPid(), 500);
  EXPECT_EQ(s.focusTests(), 0u);
}

TEST(Activation, ReportsASwitchThatDidNotHappen) {
  struct Case {
    const char* name;
    std::function<void(Scene&)> change;  // after target resolution
    std::vector<Op> operations;
  } cases[] = {
      {"the application refuses activation",
       [](Scene& s) { s.app().refusesActivation(); },
       {Op::activate}},
      {"the application quit", [](Scene& s) { s.desktop.removeApp(321); }, {Op::activate}},
      {"the raise is refused",
       [](Scene& s) { s.draft.failOp(Op::action, "AXRaise", AxStatus::actionUnsupported); },
       {Op::activate, Op::action}},
      {"the window closed",
       [](Scene& s) { s.app().closeWindow(s.draft); },
       {Op::activate, Op::action}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s;
    const FocusTarget target = s.target(s.draft, false);
    c.change(s);
    EXPECT_EQ(activateAndVerify(s.desktop, target), unavailableReply(kReasonSwitchFailed));
    EXPECT_EQ(s.operations(), c.operations);
    EXPECT_EQ(s.focusTests(), 0u);
  }
}

TEST(Activation, LeavesTheApplicationActiveWhenTheRaiseFails) {
  Scene s;
  s.draft.failOp(Op::action, "AXRaise");
  EXPECT_EQ(activateAndVerify(s.desktop, s.target(s.draft, false)),
            unavailableReply(kReasonSwitchFailed));
  EXPECT_EQ(s.desktop.frontmostPid(), 321);
}

TEST(Activation, WaitsInSlicesForFocusThatArrivesLate) {
  Scene s;
  s.app().raiseFocusDelay(0.125);
  const FocusTarget target = s.target(s.draft, false);
  const double start = s.desktop.clock;
  EXPECT_EQ(activateAndVerify(s.desktop, target), Reply({{"status", "focused"}}));
  // Tests at 0, 0.05 and 0.10 fail; the one after the third slice succeeds.
  const auto slices = s.desktop.callsOf(Op::runLoop);
  ASSERT_EQ(slices.size(), 3u);
  for (std::size_t i = 0; i < slices.size(); ++i) {
    EXPECT_NEAR(slices[i].number - start, 0.05 * static_cast<double>(i + 1), 1e-9);
  }
  EXPECT_EQ(s.focusTests(), 4u);
  // Activation and raise happen once, not once per pass.
  EXPECT_EQ(s.operations(), (std::vector<Op>{Op::activate, Op::action}));
}

TEST(Activation, GivesUpWhenFocusIsNotConfirmedWithinTheDeadline) {
  struct Case {
    const char* name;
    std::function<void(Scene&)> change;
  } cases[] = {
      {"the application focuses another of its windows",
       [](Scene& s) { s.app().raiseFocuses(false); }},
      {"another application takes the front right after the raise",
       [](Scene& s) {
         s.desktop.afterAxCalls(s.desktop.axCalls() + 1, [&s] { s.desktop.setFrontmost(500); });
       }},
      {"the window is focused but still minimized", [](Scene& s) { s.draft.minimized(true); }},
      {"the focus arrives after the deadline", [](Scene& s) { s.app().raiseFocusDelay(1.5); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s;
    const FocusTarget target = s.target(s.draft, false);
    c.change(s);
    EXPECT_EQ(activateAndVerify(s.desktop, target), unavailableReply(kReasonFocusUnconfirmed));
    EXPECT_EQ(s.operations(), (std::vector<Op>{Op::activate, Op::action}));

    // Replay the log on the virtual clock: the deadline is 0.9 s after the raise, every
    // focus test happens before it, and the reply follows the first slice that ends at or
    // after it.
    const auto& calls = s.desktop.calls();
    const auto raise = std::find_if(calls.begin(), calls.end(),
                                    [](const Call& call) { return call.op == Op::action; });
    ASSERT_NE(raise, calls.end());
    const auto firstNow =
        std::find_if(raise, calls.end(), [](const Call& call) { return call.op == Op::now; });
    ASSERT_NE(firstNow, calls.end());
    const double deadline = firstNow->number + test::kVerificationSeconds;
    double time = firstNow->number;
    std::size_t tests = 0;
    std::size_t slices = 0;
    for (auto it = firstNow; it != calls.end(); ++it) {
      if (it->op == Op::now) time = it->number;
      if (it->op == Op::frontmost) {
        ++tests;
        EXPECT_LT(time, deadline) << "a focus test at the deadline or after it";
      }
      if (it->op == Op::runLoop) ++slices;
    }
    EXPECT_EQ(tests, slices) << "one test before every slice, none after the last";
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().op, Op::now);
    EXPECT_GE(s.desktop.clock, deadline);
    EXPECT_LT(s.desktop.clock, deadline + test::kWaitSliceSeconds + 1e-9);
    EXPECT_GE(tests, 18u);
  }
}

TEST(Activation, WaitsForAWindowThatAnswersWithinItsDeadline) {
  // The window carries no time-out of its own, and the application's 0.05 s is not its
  // bound: it may take until the target's deadline for the restore and the raise, and
  // until the verification's for its minimized state.
  struct Case {
    const char* what;
    std::function<void(Scene&)> slow;
    bool isMinimized;
    Reply expected;
  } cases[] = {
      {"a raise of 0.6 s",
       [](Scene& s) { s.draft.latency("AXRaise", 0.6); },
       false,
       {{"status", "focused"}}},
      {"a restore and a raise of 0.7 s each",
       [](Scene& s) {
         s.draft.minimized(true).latency("AXMinimized", 0.7).latency("AXRaise", 0.7);
       },
       true,
       {{"status", "focused"}}},
      // Answered, the state keeps the window from counting as focused; a read cut short
      // would have let it pass.
      {"a window still minimized whose state takes 0.5 s to read",
       [](Scene& s) { s.draft.minimized(true).latency("AXMinimized", 0.5); }, false,
       unavailableReply(kReasonFocusUnconfirmed)},
      // A state the application says it cannot give does not hold the window.
      {"a minimized state refused",
       [](Scene& s) {
         s.draft.minimized(true).fail("AXMinimized", AxStatus::attributeUnsupported);
       },
       false,
       {{"status", "focused"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s;
    c.slow(s);
    EXPECT_EQ(activateAndVerify(s.desktop, s.target(s.draft, c.isMinimized)), c.expected);
  }
}

TEST(Activation, AWindowThatDoesNotAnswerHoldsNoChangePastItsDeadline) {
  struct Case {
    const char* what;
    std::function<void(Scene&)> hang;
    bool isMinimized;
    std::string_view reason;
    std::vector<Op> operations;
  } cases[] = {
      {"restore",
       [](Scene& s) { s.draft.minimized(true).latency("AXMinimized", 30); },
       true,
       kReasonRestoreRefused,
       {Op::write}},
      {"raise",
       [](Scene& s) { s.draft.latency("AXRaise", 30); },
       false,
       kReasonSwitchFailed,
       {Op::activate, Op::action}},
      // The restore takes the time there was: the raise is not asked for at all.
      {"a restore that answers at the deadline",
       [](Scene& s) { s.draft.minimized(true).latency("AXMinimized", kTargetSeconds); },
       true,
       kReasonSwitchFailed,
       {Op::write, Op::activate}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s;
    c.hang(s);
    const FocusTarget target = s.target(s.draft, c.isMinimized);
    EXPECT_EQ(activateAndVerify(s.desktop, target), unavailableReply(c.reason));
    EXPECT_EQ(s.operations(), c.operations);
    EXPECT_NEAR(s.desktop.clock, target.deadline, 1e-6);
  }
}

TEST(Activation, AMinimizedStateThatIsNeverAnsweredConfirmsNothing) {
  // The window is focused at once; its minimized state never answers. The read waits
  // until the application time-out after the verification's deadline, and a state cut off
  // there proves nothing (unlike one the application says it cannot give), so the reply,
  // one slice later, is that the focus is not confirmed.
  Scene s;
  s.draft.latency("AXMinimized", 30);
  const FocusTarget target = s.target(s.draft, false);
  EXPECT_EQ(activateAndVerify(s.desktop, target), unavailableReply(kReasonFocusUnconfirmed));
  const auto raise = s.desktop.callsOf(Op::action).at(0).at;
  const double readDeadline =
      raise + test::kVerificationSeconds + test::kApplicationSeconds;
  EXPECT_NEAR(s.desktop.clock, readDeadline + test::kWaitSliceSeconds, 1e-5);
  EXPECT_EQ(s.focusTests(), 1u);
}

TEST(Activation, AWindowIsWaitedForNoLongerThanThePlatformDefault) {
  Scene s;
  s.desktop.defaultTimeout = 0.25f;
  s.draft.latency("AXRaise", 0.3);
  const double start = s.desktop.clock;
  EXPECT_EQ(activateAndVerify(s.desktop, s.target(s.draft, false)),
            unavailableReply(kReasonSwitchFailed));
  EXPECT_DOUBLE_EQ(s.desktop.clock - start, 0.25);
}

}  // namespace
}  // namespace nevo
