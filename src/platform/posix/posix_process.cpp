#include "platform/posix/posix_process.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace nevo::posix {

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
  for (WallTime t = now(); t < date; t = now()) {
    std::this_thread::sleep_for(std::chrono::duration<double>(date - t));
  }
}

}  // namespace nevo::posix
