// nevo-desktop-accessibility: one command per run, one JSON line on standard output,
// exit status 0, nothing on standard error.
#include <csignal>
#include <exception>

#include "app/dispatch.h"
#include "platform/backend.h"

int main(int argc, char** argv) {
  // A host that stops reading must not turn the reply's write into a signal death.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const auto platform = nevo::makePlatform();
    return nevo::runTool(argc, argv, *platform);
  } catch (...) {
    // Nothing may reach standard error and the status stays 0; the host then reads an
    // empty output, as when a reply cannot be serialised.
    return 0;
  }
}
