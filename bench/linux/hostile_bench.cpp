// What hostile peers cost the Linux backend: each case in a process of its own, its time
// from the first call to the end of the read and the process's peak resident size.
//
//   nevo_hostile_bench [RUNS]
//
// The D-Bus cases are the fake application's hostile modes (tests/linux/fake_application.h)
// against the core's walk of a window of 25 elements with the observation's walk bound; the
// application is served from a process of its own, so that the peak is the reader's alone.
// The X11 case is a scripted X server whose window has a title of 64 MB, read as the window
// list reads it. Prints, per case, the median time over RUNS runs (default 5), the bound,
// and the largest peak.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_application.h"
#include "fake_walk.h"
#include "observe/observation.h"
#include "observe/walk.h"
#include "platform/attributes.h"
#include "platform/linux/atspi_roles.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/x11_desktop.h"
#include "scripted_x_server.h"
#include "windows/list_windows.h"

namespace {

using nevo::lin::LinuxPlatform;
using nevo::lin::test::FakeApplication;
using nevo::lin::test::FakeObject;
using nevo::lin::test::Hostility;

constexpr int kItems = 24;

struct Result {
  double seconds = 0;
  long peakKilobytes = 0;
  long records = 0;
};

Result walkCase(Hostility hostility) {
  using namespace nevo;
  FakeApplication app;
  lin::test::addButtonScene(app, kItems);
  app.setHostility(hostility);
  if (!app.serveFromChildProcess()) std::exit(2);
  LinuxPlatform platform(app.takeLink());
  const double start = lin::monotonicNow();
  const lin::test::Walked walked = lin::test::walkFocusedWindow(
      platform, kObservationTimeout, kObservationWalkSeconds, false);
  Result result;
  result.seconds = lin::monotonicNow() - start;
  result.records = static_cast<long>(walked.records.size());
  return result;
}

Result titleCase() {
  using namespace nevo;
  test::ScriptedXServer server(test::Script::longTitles);
  ::setenv("DISPLAY", server.display().c_str(), 1);
  ::setenv("XAUTHORITY", "/nonexistent", 1);
  const double start = lin::monotonicNow();
  std::unique_ptr<lin::X11Desktop> display =
      lin::X11Desktop::connect(start + kWindowListSeconds);
  Result result;
  if (display) result.records = static_cast<long>(display->clientWindows().size());
  result.seconds = lin::monotonicNow() - start;
  return result;
}

// One run of a case in a child process: its result, with the child's peak.
Result inChild(int which) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(2);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    const Hostility modes[] = {Hostility::deepValues, Hostility::hugeStrings,
                               Hostility::closesOwnConnections};
    Result result = which < 3 ? walkCase(modes[which]) : titleCase();
    result.peakKilobytes = nevo::lin::test::peakKilobytes();
    [[maybe_unused]] const auto written = ::write(fds[1], &result, sizeof result);
    ::_exit(0);
  }
  ::close(fds[1]);
  Result result;
  [[maybe_unused]] const auto read = ::read(fds[0], &result, sizeof result);
  ::close(fds[0]);
  // The application's process, the child's own child, ends with the link; reap whatever ends.
  int status = 0;
  ::waitpid(child, &status, 0);
  while (::waitpid(-1, &status, WNOHANG) > 0) {
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* names[] = {"deep values near the size limit", "16 MiB strings",
                         "own connections closed mid-walk", "64 MB window title"};
  const double bounds[] = {nevo::kObservationWalkSeconds, nevo::kObservationWalkSeconds,
                           nevo::kObservationWalkSeconds, nevo::kWindowListSeconds};
  std::printf("%-34s %9s %7s %10s %8s\n", "case", "median s", "bound", "peak MiB", "records");
  for (int which = 0; which < 4; ++which) {
    std::vector<double> seconds;
    long peak = 0;
    long records = 0;
    for (int run = 0; run < runs; ++run) {
      const Result result = inChild(which);
      seconds.push_back(result.seconds);
      peak = std::max(peak, result.peakKilobytes);
      records = result.records;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("%-34s %9.3f %7.1f %10.1f %8ld\n", names[which], seconds[seconds.size() / 2],
                bounds[which], static_cast<double>(peak) / 1024, records);
  }
  return 0;
}
