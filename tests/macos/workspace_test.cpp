// The workspace as the macOS backend reads it. AppKit's values stay as they were at the last
// turn of the run loop (the fake's workspace keeps them so too); the backend turns the run
// loop, without waiting, before every read, so that each read answers with the system's
// state of now.
#include <gtest/gtest.h>

#include "commands.h"
#include "fake_macos.h"
#include "observe/observation.h"
#include "reply/reply.h"
#include "sim_desktop.h"

namespace nevo::macos {
namespace {

using sim::SimDesktop;

class MacosWorkspace : public ::testing::Test {
 protected:
  SimDesktop desktop;
  sim::SimApp& notes = desktop.addApp(812, "Notes");
  sim::SimApp& mail = desktop.addApp(900, "Mail");

  MacosWorkspace() {
    notes.focusWindow(notes.addWindow("Notes", {0, 0, 400, 300}));
    mail.focusWindow(mail.addWindow("Inbox", {0, 0, 500, 400}));
    desktop.setFrontmost(812);
    fake::bind(desktop);
  }

  static std::optional<ProcessId> pidOf(const std::optional<RunningApplication>& application) {
    if (!application) return std::nullopt;
    return application->processIdentifier;
  }
};

TEST_F(MacosWorkspace, TheFakeKeepsAppKitsValuesUntilTheRunLoopTurns) {
  Workspace& workspace = fake::workspace();
  EXPECT_EQ(pidOf(workspace.frontmostApplication()), 812);
  EXPECT_EQ(workspace.runningApplications().size(), 2u);
  desktop.setFrontmost(900);
  desktop.removeApp(812);
  EXPECT_EQ(pidOf(workspace.frontmostApplication()), 812);
  EXPECT_EQ(workspace.runningApplications().size(), 2u);

  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true), kCFRunLoopRunTimedOut);
  EXPECT_EQ(pidOf(workspace.frontmostApplication()), 900);
  EXPECT_EQ(workspace.runningApplications().size(), 1u);
}

TEST_F(MacosWorkspace, EveryReadAnswersWithTheStateOfNow) {
  Platform& platform = test::platformUnderTest(desktop);
  EXPECT_EQ(pidOf(platform.frontmostApplication()), 812);
  EXPECT_EQ(platform.runningApplications().size(), 2u);
  EXPECT_EQ(pidOf(platform.runningApplication(812)), 812);

  // Nothing waits between the reads, as between the observation's first and last look at
  // the frontmost application.
  desktop.setFrontmost(900);
  desktop.addApp(950, "Preview");
  desktop.removeApp(812);
  EXPECT_EQ(pidOf(platform.frontmostApplication()), 900);
  EXPECT_EQ(platform.runningApplications().size(), 2u);
  EXPECT_EQ(pidOf(platform.runningApplication(812)), std::nullopt);

  // Each turn ran the default mode without waiting, until a pass found nothing to serve.
  const fake::RunLoop& loop = fake::runLoop();
  ASSERT_EQ(loop.runs.size(), 6u);
  for (std::size_t i = 0; i < loop.runs.size(); ++i) {
    EXPECT_EQ(loop.runs[i], 0.0);
    EXPECT_TRUE(loop.returnsAfterSource[i]);
  }
}

// The observation's end check sees another application come to the front while it walked.
TEST_F(MacosWorkspace, TheObservationSeesAnotherApplicationComeToTheFront) {
  desktop.afterAxCalls(3, [this] { desktop.setFrontmost(900); });
  EXPECT_EQ(test::observeOn(desktop),
            (Reply{{"status", "unavailable"},
                   {"reason", kReasonFrontWindowChanged},
                   {"elements", Reply::array()}}));
}

}  // namespace
}  // namespace nevo::macos
