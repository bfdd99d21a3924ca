#include "command_bounds.h"

namespace nevo::test {
namespace {

// The observation's time-out, written out like the deadlines (the others are in the
// header), taken as the platform takes it: single-precision seconds.
constexpr double kObservationTimeout = static_cast<double>(0.2f);

}  // namespace

double observationBound() {
  const double t = kObservationTimeout;
  // Before the walk: the focused window (t), its frame, which ends at its deadline at the
  // latest, and the focused element (t). The walk: no visit starts at or after its
  // deadline, and the one that started last makes at most 12 requests of t (what decides
  // the record, the texts, the hit test, seven parents, the count and the copy of the
  // children); the focused element's evaluation before the walk ends before the walk's
  // first visit. After the walk: the focus check (t) and the window's title (t).
  return t + kFrameSeconds + t + kWalkSeconds + 12 * t + 2 * t;
}

double windowListBound() {
  const double t = kApplicationSeconds;
  // No application and no window is started at or after the deadline. The last
  // application started before it makes its window list's two requests (2t); the last
  // window started before it ends at the deadline; an application whose windows were all
  // read in time has its focused window read (t), after which the next application is not
  // started. Only one of these is under way at the deadline, and the longest is the window
  // list's.
  return kListingSeconds + 2 * t;
}

double focusBound() {
  const double t = kApplicationSeconds;
  // The window list (2t); the records, which count only when complete before their
  // deadline, the window in progress ending at it; the focus test (t); the target's live
  // check, restore and raise, each ending by the target's deadline, taken as the live check
  // starts; the verification loop: no test starts at or after its deadline, the last one
  // reads the focused window (t) and then the minimized state, which ends by t after that
  // deadline at the latest, and is followed by one more wait slice.
  return 2 * t + kRecordsSeconds + t + kTargetSeconds + kVerificationSeconds + t +
         kWaitSliceSeconds;
}

std::string overrunProblem(double spent, double bound) {
  if (spent <= bound + 1e-6) return {};
  return "took " + std::to_string(spent) + " s, bound " + std::to_string(bound) + " s";
}

}  // namespace nevo::test
