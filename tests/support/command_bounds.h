// The longest each command may take, in seconds of (virtual) time, derived from its
// deadlines and the messaging time-outs of the elements it reads through.
//
// Every request gives up after a time-out the command set: on the element it goes through
// (an application element; the target window of --focus for the changes asked of it), or
// else the system-wide one, which each command sets before it reads any window. No request
// waits for the platform's own default.
#pragma once

#include <string>

namespace nevo::test {

// The protocol's deadlines, written out here rather than taken from the code's constants,
// so that a constant changed by mistake makes a command overrun its bound or break a
// property: the observation's walk, the window listing, the records of --focus and its
// wait for the focus.
inline constexpr double kWalkSeconds = 1.8;
inline constexpr double kListingSeconds = 1.8;
inline constexpr double kRecordsSeconds = 0.8;
inline constexpr double kVerificationSeconds = 0.9;

// 1.8 + 17 × 0.2 = 5.2 s.
double observationBound();
// 1.8 + 2 × 0.05 = 1.9 s.
double windowListBound();
// 0.8 + 0.9 + 6 × 0.05 + 3 × 0.5 + 0.05 = 3.55 s: six reads of 0.05 s (two for the window
// list, the last window record, the focus test, the target's state, and the focused-window
// test of the verification's last check), three of 0.5 s through the target window
// (restore, raise, and the minimized-state test of that last check), and one more wait
// slice after it.
double focusBound();

// What is wrong with a command that took `spent` seconds against its `bound` (up to a
// rounding error of 1e-9 s): empty when it ended in time.
std::string overrunProblem(double spent, double bound);

}  // namespace nevo::test
