// nevo-desktop-accessibility: one command per run, one JSON line on standard output,
// exit status 0, nothing on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <exception>

#include "app/dispatch.h"
#include "platform/backend.h"

#if defined(__SANITIZE_ADDRESS__)
#define NEVO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NEVO_SANITIZED 1
#endif
#endif
#ifdef NEVO_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// The tool writes nothing to standard error, and the libraries below it must not either:
// xcb, for one, writes there why a display refused the connection. Standard error is
// /dev/null for the run; a sanitizer build keeps its reports on the original one.
void silenceStandardError() {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
#ifdef NEVO_SANITIZED
  const int original = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (original >= 0) {
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(original)));
  }
#endif
  ::dup2(null, STDERR_FILENO);
  ::close(null);
}

}  // namespace

int main(int argc, char** argv) {
  // A host that stops reading must not turn the reply's write into a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  silenceStandardError();
  try {
    const auto platform = nevo::makePlatform();
    return nevo::runTool(argc, argv, *platform);
  } catch (...) {
    // Nothing may reach standard error and the status stays 0; the host then reads an
    // empty output, as when a reply cannot be serialised.
    return 0;
  }
}
