#include "app/dispatch.h"

#include "reply/emit.h"
#include "focus/focus_window.h"
#include "observe/observation.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

// The permission withdrawn while the command ran: a backend whose requests were refused for
// want of the permission answers the gate with false from then on, and what the command
// built on those requests (a missing window, a short list, an unconfirmed focus) gives way
// to its permission-denied reply, which keeps the command's empty list.
Reply gatedAgain(Reply reply, Platform& platform, const char* emptyList) {
  if (reply["status"] == kStatusDenied || permissionGranted(platform)) return reply;
  Reply denied = permissionDeniedReply();
  if (emptyList != nullptr) denied[emptyList] = Reply::array();
  return denied;
}

}  // namespace

Reply runCommand(const std::vector<std::string>& arguments, Platform& platform) {
  if (arguments.empty()) return gatedAgain(observe(platform), platform, "elements");
  if (arguments.size() == 1 && arguments[0] == "--windows") {
    return gatedAgain(listWindows(platform), platform, "windows");
  }
  if (arguments.size() == 1 && arguments[0] == "--focus") {
    return gatedAgain(focusWindow(platform), platform, nullptr);
  }
  return unavailableReply(kReasonUnsupportedCommand);
}

int runTool(int argc, const char* const* argv, Platform& platform) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  emit(runCommand(arguments, platform));
  return 0;
}

}  // namespace nevo
