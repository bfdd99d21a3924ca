#include "platform/posix/posix_process.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace nevo::posix {
namespace {
// The longest single sleep. The tool never waits this long; the cap only keeps the
// conversion below in range for any date.
constexpr double kLongestSleep = 86400;
}  // namespace

ProcessId ownProcessIdentifier() {
  return static_cast<ProcessId>(::getpid());
}

std::string readStandardInput(std::size_t maxBytes) {
  std::string chunk(maxBytes, '\0');
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, chunk.data(), maxBytes);
    if (n < 0 && errno == EINTR) continue;
    chunk.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return chunk;
  }
}

WallTime now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

void sleepUntil(WallTime date) {
  // The date is wall-clock time, but the sleep is measured on the monotonic clock: a
  // wall clock stepped backwards meanwhile must not stretch the wait past what was left.
  const double left = std::min(date - now(), kLongestSleep);
  if (!(left > 0)) return;
  using namespace std::chrono;
  const auto end = steady_clock::now() + duration_cast<steady_clock::duration>(
                                             duration<double>(left));
  while (steady_clock::now() < end) std::this_thread::sleep_until(end);
}

}  // namespace nevo::posix
