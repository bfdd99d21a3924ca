// The longest each command may take, in seconds of (virtual) time, derived from its
// deadlines and the messaging time-outs of the elements it reads through.
//
// Every request made through an element that carries a time-out of its own (an
// application element), or made after the observation has set the system-wide time-out,
// gives up after that time-out. The window requests of --windows and --focus, and the
// frame request of the observation's window, go through elements without one and give up
// only after the platform's default (`platformTimeout`: 6 s on macOS, the simulated
// desktop's defaultTimeout in tests).
#pragma once

namespace nevo::test {

// 1.8 + 16 × 0.2 + default: 11.0 s with a 6-second default.
double observationBound(double platformTimeout);
// 1.8 + max(2 × 0.05, default): 7.8 s with a 6-second default.
double windowListBound(double platformTimeout);
// 0.8 + 0.9 + 0.05 + 4 × 0.05 + 4 × default: 25.95 s with a 6-second default.
double focusBound(double platformTimeout);

}  // namespace nevo::test
