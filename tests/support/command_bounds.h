// The longest each command may take, in seconds of (virtual) time, derived from its
// deadlines and the messaging time-outs of the elements it reads through.
//
// A request through an application element or, in the walk, through any element gives up
// after the time-out the command set (the application's own, else the system-wide one). A
// request through a window element gives up at the deadline of the part of the command it
// belongs to (the window list, the records, the frame of the observation's window, the
// target of --focus, its verification), or after the platform's default when that comes
// first. No request waits for the platform's default alone.
#pragma once

#include <string>

namespace nevo::test {

// The protocol's deadlines, written out here rather than taken from the code's constants,
// so that a constant changed by mistake makes a command overrun its bound or break a
// property: the observation's walk and its window's frame, the window listing, the records
// of --focus, its target's live check, restore and raise, and its wait for the focus.
inline constexpr double kWalkSeconds = 1.8;
inline constexpr double kFrameSeconds = 1.0;
inline constexpr double kListingSeconds = 1.8;
inline constexpr double kRecordsSeconds = 0.8;
inline constexpr double kTargetSeconds = 1.5;
inline constexpr double kVerificationSeconds = 0.9;
// The messaging time-out of the application element of the window list and --focus (as
// the platform takes it: single-precision seconds), and the slice in which --focus waits
// for the focus.
inline constexpr double kApplicationSeconds = static_cast<double>(0.05f);
inline constexpr double kWaitSliceSeconds = 0.05;

// 1.0 + 1.8 + 16 × 0.2 = 6.0 s: the frame's 1 s; two requests of 0.2 s before the walk
// (the focused window and the focused element), 12 by the walk's element in progress at
// its deadline, two after the walk.
double observationBound();
// 1.8 + 2 × 0.05 = 1.9 s.
double windowListBound();
// 0.8 + 1.5 + 0.9 + 4 × 0.05 + 0.05 = 3.45 s: the records' deadline; the target's (its
// live check, restore and raise); the wait for the focus; four reads of 0.05 s through the
// application element (two for the window list, the focus test, and the focused-window
// read of the verification's last test), and one more wait slice after that test, whose
// minimized-state read ends by 0.05 s after the verification's deadline.
double focusBound();

// What is wrong with a command that took `spent` seconds against its `bound`: empty when it
// ended in time. A request cut at a deadline may end after it by the rounding of its
// time-out up to a single-precision value, so 1e-6 s is allowed for.
std::string overrunProblem(double spent, double bound);

}  // namespace nevo::test
