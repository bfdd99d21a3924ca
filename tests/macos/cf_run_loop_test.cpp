// The clock and the run-loop wait over CoreFoundation's clock and run loop (faked).
#include "platform/macos/cf_run_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_macos.h"

namespace nevo::macos {
namespace {

// CoreFoundation counts from 2001-01-01; the tool's clock from 1970.
constexpr double kSince1970 = 978307200;

TEST(CfClock, CountsFrom1970) {
  fake::runLoop().now = 12.25;
  EXPECT_EQ(cfNow(), kSince1970 + 12.25);
}

TEST(CfRunLoopWait, ServesTheDefaultModeUntilTheDate) {
  struct Case {
    const char* name;
    std::vector<CFRunLoopRunResult> results;  // what each run returns, in order
    std::vector<double> runs;                 // the seconds of each run
  } cases[] = {
      {"one run to the date", {kCFRunLoopRunTimedOut}, {0.05}},
      {"stopped early: runs on for the rest",
       {kCFRunLoopRunStopped, kCFRunLoopRunTimedOut},
       {0.05, 0.04}},
      {"a source handled early: runs on for the rest",
       {kCFRunLoopRunHandledSource, kCFRunLoopRunHandledSource, kCFRunLoopRunTimedOut},
       {0.05, 0.04, 0.03}},
      // Nothing registered in the mode: the run returns at once, and running it again
      // would only spin; the rest of the time is slept instead.
      {"nothing to serve", {kCFRunLoopRunFinished}, {0.05}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::RunLoop& loop = fake::runLoop();
    loop = fake::RunLoop{};
    loop.now = 100;
    std::size_t next = 0;
    loop.run = [&](CFTimeInterval) {
      // Each early return comes a hundredth of a second into the run.
      const CFRunLoopRunResult result = c.results.at(next++);
      if (result == kCFRunLoopRunTimedOut) {
        loop.now = 100.05;
      } else if (result != kCFRunLoopRunFinished) {
        loop.now += 0.01;
      }
      return result;
    };
    cfRunLoopUntil(kSince1970 + 100.05);
    ASSERT_EQ(loop.runs.size(), c.runs.size());
    for (std::size_t i = 0; i < c.runs.size(); ++i) EXPECT_NEAR(loop.runs[i], c.runs[i], 1e-6);
  }
}

TEST(CfRunLoopWait, ReturnsAtOnceForADateThatPassed) {
  fake::runLoop().now = 100;
  cfRunLoopUntil(kSince1970 + 100);
  cfRunLoopUntil(kSince1970 + 99);
  EXPECT_TRUE(fake::runLoop().runs.empty());
}

TEST(CfRunLoopTurn, ServesWhatIsPendingWithoutWaiting) {
  struct Case {
    const char* name;
    std::vector<CFRunLoopRunResult> results;  // what each pass returns, in order
    std::size_t passes;
  } cases[] = {
      {"nothing pending", {kCFRunLoopRunTimedOut}, 1},
      {"nothing registered in the mode", {kCFRunLoopRunFinished}, 1},
      {"two sources, then nothing",
       {kCFRunLoopRunHandledSource, kCFRunLoopRunHandledSource, kCFRunLoopRunTimedOut},
       3},
      {"stopped", {kCFRunLoopRunHandledSource, kCFRunLoopRunStopped}, 2},
      {"a source that keeps firing",
       std::vector<CFRunLoopRunResult>(100, kCFRunLoopRunHandledSource),
       static_cast<std::size_t>(kRunLoopTurnPasses)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::RunLoop& loop = fake::runLoop();
    loop = fake::RunLoop{};
    loop.now = 100;
    std::size_t next = 0;
    loop.run = [&](CFTimeInterval) { return c.results.at(next++); };
    cfRunLoopTurn();
    ASSERT_EQ(loop.runs.size(), c.passes);
    for (std::size_t i = 0; i < loop.runs.size(); ++i) {
      EXPECT_EQ(loop.runs[i], 0.0);
      EXPECT_TRUE(loop.returnsAfterSource[i]);
    }
    EXPECT_EQ(loop.now, 100);
  }
}

}  // namespace
}  // namespace nevo::macos
