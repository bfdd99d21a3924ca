// The command tests through the macOS backend: its plain C++ (AxPlatform) over the fake of
// the system's C interfaces and of AppKit's workspace, bound to the simulated desktop, with
// the own process, standard input, clock and run loop served by the desktop itself.
#include <memory>
#include <vector>

#include "commands.h"
#include "fake_macos.h"
#include "platform/macos/ax_platform.h"

namespace nevo::test {
namespace {

class DesktopServedMacPlatform final : public macos::AxPlatform {
 public:
  explicit DesktopServedMacPlatform(sim::SimDesktop& desktop)
      : AxPlatform(fake::workspace()), desktop_(desktop) {}

  ProcessId ownProcessIdentifier() override { return desktop_.ownProcessIdentifier(); }
  std::string readStandardInput(std::size_t maxBytes) override {
    return desktop_.readStandardInput(maxBytes);
  }
  WallTime now() override { return desktop_.now(); }
  // The wait serves the run loop, as cfRunLoopUntil does on a Mac: the workspace takes in
  // what changed meanwhile.
  void runLoopUntil(WallTime date) override {
    desktop_.runLoopUntil(date);
    fake::runLoopTurned();
  }
  // The fake's requests wait as the desktop's do, so its default is the desktop's.
  float defaultMessagingTimeout() override { return desktop_.defaultMessagingTimeout(); }

 private:
  sim::SimDesktop& desktop_;
};

}  // namespace

Platform& platformUnderTest(sim::SimDesktop& desktop) {
  // A fresh backend for each command, as each run of the tool is a process of its own: what
  // one run learnt (a refused request) does not reach the next. Earlier ones are kept, since
  // a test may still hold the platform it asked for before.
  static std::vector<std::unique_ptr<DesktopServedMacPlatform>> platforms;
  platforms.push_back(std::make_unique<DesktopServedMacPlatform>(desktop));
  fake::bind(desktop);
  return *platforms.back();
}

}  // namespace nevo::test
