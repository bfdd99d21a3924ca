#include "command_bounds.h"

namespace nevo::test {
namespace {

// The protocol's time-outs and wait slice, written out like its deadlines (in the header).
// Time-outs are taken as the platform takes them: single-precision seconds.
constexpr double kObservationTimeout = static_cast<double>(0.2f);
constexpr double kApplicationTimeout = static_cast<double>(0.05f);
constexpr double kWaitSliceSeconds = 0.05;
constexpr double kWindowChangeTimeout = static_cast<double>(0.5f);

}  // namespace

double observationBound() {
  const double t = kObservationTimeout;
  // Before the walk: the focused window, its frame and the focused element (3t; the
  // system-wide time-out is set before the window is read). The walk: no visit starts at
  // or after its deadline, and the one that started last makes at most 12 requests of t
  // (what decides the record, the texts, the hit test, seven parents, the count and the
  // copy of the children); the focused element's evaluation before the walk ends before
  // the walk's first visit. After the walk: the focus check (t) and the window's title (t).
  return 3 * t + kWalkSeconds + 12 * t + 2 * t;
}

double windowListBound() {
  const double t = kApplicationTimeout;
  // No application and no window is started at or after the deadline. The last
  // application started before it makes its window list's two requests (2t); the last
  // window started before it makes one (t, the system-wide time-out); an application whose
  // windows were all read in time has its focused window read (t), after which the next
  // application is not started. Only one of these is under way at the deadline, and the
  // longest is the window list's.
  return kListingSeconds + 2 * t;
}

double focusBound() {
  const double t = kApplicationTimeout;
  // The window list (2t); the records, which count only when complete before their
  // deadline, the last one started before it (t); the focus test (t); the target's state
  // (t); restore and raise, each through the target window with its change time-out (c);
  // the verification loop: no test starts at or after its deadline, and the last one (t for
  // the focused window, c for the minimized state) is followed by one more wait slice.
  const double c = kWindowChangeTimeout;
  return 2 * t + kRecordsSeconds + t + t + t + 2 * c + kVerificationSeconds + t + c +
         kWaitSliceSeconds;
}

std::string overrunProblem(double spent, double bound) {
  if (spent <= bound + 1e-9) return {};
  return "took " + std::to_string(spent) + " s, bound " + std::to_string(bound) + " s";
}

}  // namespace nevo::test
