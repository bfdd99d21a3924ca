// The macOS backend: accessibility over ApplicationServices (AxPlatform), the workspace
// over AppKit, the clock and the run loop over CoreFoundation, and the own process and
// standard input over their C interfaces.
#include "platform/backend.h"
#include "platform/macos/ax_platform.h"
#include "platform/macos/cf_run_loop.h"
#include "platform/macos/workspace.h"
#include "platform/posix/posix_process.h"

namespace nevo {
namespace macos {
namespace {

class MacPlatform final : public AxPlatform {
 public:
  MacPlatform() : AxPlatform(appKitWorkspace()) {}
  ProcessId ownProcessIdentifier() override { return posix::ownProcessIdentifier(); }
  std::string readStandardInput(std::size_t maxBytes) override {
    return posix::readStandardInput(maxBytes);
  }
  WallTime now() override { return cfNow(); }
  void runLoopUntil(WallTime date) override { cfRunLoopUntil(date); }
};

}  // namespace
}  // namespace macos

std::unique_ptr<Platform> makePlatform() {
  return std::make_unique<macos::MacPlatform>();
}

}  // namespace nevo
