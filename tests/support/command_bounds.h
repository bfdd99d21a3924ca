// The longest each command may take, in seconds of (virtual) time, derived from its
// deadlines and the messaging time-outs of the elements it reads through.
//
// Every request gives up after a time-out the command set: on the element it goes through
// (an application element; the target window of --focus for the changes asked of it), or
// else the system-wide one, which each command sets before it reads any window. No request
// waits for the platform's own default.
#pragma once

namespace nevo::test {

// 1.8 + 17 × 0.2 = 5.2 s.
double observationBound();
// 1.8 + 2 × 0.05 = 1.9 s.
double windowListBound();
// 0.8 + 0.9 + 5 × 0.05 + 3 × 0.5 + 0.05 = 3.5 s.
double focusBound();

}  // namespace nevo::test
