#include "commands.h"

#include "app/dispatch.h"
#include "focus/focus_window.h"
#include "observe/observation.h"
#include "windows/list_windows.h"

namespace nevo::test {
namespace {

Reply checked(Reply reply) {
  checkReply(reply);
  return reply;
}

}  // namespace

Reply observeOn(sim::SimDesktop& desktop) {
  return checked(observe(platformUnderTest(desktop)));
}

Reply listWindowsOn(sim::SimDesktop& desktop) {
  return checked(listWindows(platformUnderTest(desktop)));
}

Reply focusWindowOn(sim::SimDesktop& desktop) {
  return checked(focusWindow(platformUnderTest(desktop)));
}

Reply runCommandOn(const std::vector<std::string>& arguments, sim::SimDesktop& desktop) {
  return checked(runCommand(arguments, platformUnderTest(desktop)));
}

}  // namespace nevo::test
