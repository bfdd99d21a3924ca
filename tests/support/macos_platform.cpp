// The command tests through the macOS backend: its accessibility code (AxPlatform) over the
// fake of the system's C interfaces, bound to the simulated desktop, with the workspace,
// own process, standard input, clock and run loop served by the desktop itself.
#include "commands.h"
#include "fake_macos.h"
#include "platform/macos/ax_platform.h"

namespace nevo::test {
namespace {

class DesktopServedMacPlatform final : public macos::AxPlatform {
 public:
  void bind(sim::SimDesktop& desktop) { desktop_ = &desktop; }

  std::optional<RunningApplication> frontmostApplication() override {
    return desktop_->frontmostApplication();
  }
  std::vector<RunningApplication> runningApplications() override {
    return desktop_->runningApplications();
  }
  std::optional<RunningApplication> runningApplication(ProcessId pid) override {
    return desktop_->runningApplication(pid);
  }
  bool activate(const RunningApplication& application, unsigned options) override {
    return desktop_->activate(application, options);
  }
  ProcessId ownProcessIdentifier() override { return desktop_->ownProcessIdentifier(); }
  std::string readStandardInput(std::size_t maxBytes) override {
    return desktop_->readStandardInput(maxBytes);
  }
  WallTime now() override { return desktop_->now(); }
  // The fake's requests wait as the desktop's do, so its default is the desktop's.
  float defaultMessagingTimeout() override { return desktop_->defaultMessagingTimeout(); }
  void runLoopUntil(WallTime date) override { desktop_->runLoopUntil(date); }

 private:
  sim::SimDesktop* desktop_ = nullptr;
};

}  // namespace

Platform& platformUnderTest(sim::SimDesktop& desktop) {
  // The backend keeps nothing between calls but the desktop it serves, so one instance
  // serves every test.
  static DesktopServedMacPlatform platform;
  platform.bind(desktop);
  fake::bind(desktop);
  return platform;
}

}  // namespace nevo::test
