// What the property tests share: running a RapidCheck property inside a GoogleTest test
// with a fixed seed, a short name of each reply for the distribution of cases, and the
// checks read off the simulated desktop's call log.
#pragma once

#include <gtest/gtest.h>
#include <rapidcheck.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "reply/reply.h"
#include "sim_desktop.h"

namespace nevo::property {

// The protocol's limits, written out here rather than taken from the code's constants, so
// that a limit changed by mistake in the code breaks a property. Its deadlines are in
// command_bounds.h, with the time bounds they make.
namespace limit {
inline constexpr long kVisits = 500;
inline constexpr std::size_t kRecords = 160;
inline constexpr int kParentsPerHitTest = 7;
inline constexpr long kWindowsPerApplication = 80;
inline constexpr std::size_t kEntries = 80;
inline constexpr std::size_t kTextCharacters = 300;
inline constexpr std::size_t kApplicationNameCharacters = 300;
inline constexpr std::size_t kTitleCharacters = 4096;
inline constexpr std::size_t kInputBytes = 32768;
inline constexpr std::size_t kInputChunkBytes = 4096;
}  // namespace limit

// The seed of a property when RC_PARAMS does not give one: fixed, so that every CI run
// checks the same cases, and different for each property.
std::uint64_t fixedSeed(std::string_view property);

// Prints the run count of a property that held, with how the cases were distributed over
// the tags they were given (RC_TAG).
void reportSuccess(const std::string& property, const rc::detail::SuccessResult& success,
                   std::uint64_t seed);

// Fails the current case with `problem` unless it is empty.
inline void require(const std::string& problem) {
  if (!problem.empty()) RC_FAIL(problem);
}

// Runs `testable` as a RapidCheck property within the current GoogleTest test: `runs`
// cases from the fixed seed, shrinking a failure to a small counterexample. With
// RC_PARAMS set (RC_PARAMS="seed=7 max_success=5000" to explore further, or the
// reproduce string a failure prints) RapidCheck's own configuration is used instead.
// Prints how many cases passed.
template <class Testable>
void checkProperty(int runs, Testable&& testable) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  rc::detail::TestMetadata metadata;
  metadata.id = std::string(info->test_suite_name()) + "." + info->name();
  metadata.description = info->name();
  const bool configured = std::getenv("RC_PARAMS") != nullptr;
  rc::detail::TestParams params;
  if (configured) {
    params = rc::detail::configuration().testParams;
  } else {
    params.seed = fixedSeed(metadata.id);
    params.maxSuccess = runs;
  }
  const rc::detail::TestResult result =
      configured ? rc::detail::checkTestable(std::forward<Testable>(testable), metadata)
                 : rc::detail::checkTestable(std::forward<Testable>(testable), metadata, params);
  if (result.template is<rc::detail::SuccessResult>()) {
    reportSuccess(metadata.id, result.template get<rc::detail::SuccessResult>(), params.seed);
  } else {
    std::ostringstream message;
    rc::detail::printResultMessage(result, message);
    FAIL() << message.str();
  }
}

// A short name of a reply for the distribution of cases: its status, or for
// "unavailable" which refusal it is.
std::string replyLabel(const Reply& reply);

// What the call log shows, as a description of the first thing wrong; empty when sound.
// The walk's budgets: at most 500 element visits (one more evaluation when a focused
// element may be recorded before the walk), children asked for never more than the visits
// left, at most seven parents read per hit test.
std::string walkBudgetProblem(const sim::SimDesktop& desktop, bool focusedElementPossible);
// Window lists: at most 80 windows asked for, and at most 80 (plus `extra`) windows'
// identities read per window list.
std::string windowCapProblem(const sim::SimDesktop& desktop, int extra);
// No title, description or value of a protected element was ever asked for.
std::string protectedReadProblem(const sim::SimDesktop& desktop,
                                 const std::set<int>& protectedNodes);
// The reply carries no text of a protected element.
std::string secretProblem(const Reply& reply);
// Deadlines, read off the times of the calls: the observation evaluates no element 1.8 s
// or more after it has read the focused element (when it takes the walk's deadline); the
// listing starts no application and reads no window 1.8 s or more after it began; the
// focus command reads no window of its records 0.8 s or more after it has the window list,
// and starts no test of the focus 0.9 s or more after the raise.
std::string observationDeadlineProblem(const sim::SimDesktop& desktop);
std::string listingDeadlineProblem(const sim::SimDesktop& desktop);
std::string focusDeadlineProblem(const sim::SimDesktop& desktop);
// Standard input holding `inputSize` bytes: never more asked for at once than 4096 bytes or
// what is left of the 32769 the command may read.
std::string inputReadProblem(const sim::SimDesktop& desktop, std::size_t inputSize);

}  // namespace nevo::property
