#include "command_bounds.h"

#include <algorithm>

namespace nevo::test {
namespace {

// The protocol's figures, written out here rather than taken from the code's constants, so
// that a constant changed by mistake makes a command overrun its bound. Time-outs are
// taken as the platform takes them: single-precision seconds.
constexpr double kObservationTimeout = static_cast<double>(0.2f);
constexpr double kApplicationTimeout = static_cast<double>(0.05f);
constexpr double kWalkSeconds = 1.8;
constexpr double kListingSeconds = 1.8;
constexpr double kRecordsSeconds = 0.8;
constexpr double kVerificationSeconds = 0.9;
constexpr double kWaitSliceSeconds = 0.05;

}  // namespace

double observationBound(double platformTimeout) {
  const double t = kObservationTimeout;
  // Before the walk: the focused window (t), its frame, read before the system-wide
  // time-out is set (the platform's default), the focused element (t). The walk: no visit
  // starts at or after its deadline, and the one that started last makes at most 12
  // requests of t each (what decides the record, the texts, the hit test, seven parents,
  // the count and the copy of the children); the focused element's evaluation before the
  // walk makes at most 10 and ends before the walk's first visit. After the walk: the
  // focus check (t) and the window's title (t).
  return 2 * t + platformTimeout + kWalkSeconds + 12 * t + 2 * t;
}

double windowListBound(double platformTimeout) {
  const double t = kApplicationTimeout;
  // No application and no window is started at or after the deadline. The last
  // application started before it makes its window list's two requests (2t); the last
  // window started before it makes one request through the window's own element (the
  // platform's default); an application whose windows were all read in time has its
  // focused window read (t), after which the next application is not started.
  return kListingSeconds + std::max({2 * t, platformTimeout, t});
}

double focusBound(double platformTimeout) {
  const double t = kApplicationTimeout;
  // The window list (2t); the records, which count only when complete before their
  // deadline; the focus test (t); the target's state, restore and raise, each through the
  // window (three times the default); the verification loop: no test starts at or after
  // its deadline, and the last one (t for the focused window, the default for the
  // minimized state) is followed by one more wait slice.
  return 2 * t + kRecordsSeconds + t + 3 * platformTimeout + kVerificationSeconds + t +
         platformTimeout + kWaitSliceSeconds;
}

}  // namespace nevo::test
