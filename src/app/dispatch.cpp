#include "app/dispatch.h"

#include "reply/emit.h"
#include "focus/focus_window.h"
#include "observe/observation.h"
#include "windows/list_windows.h"

namespace nevo {

Reply runCommand(const std::vector<std::string>& arguments, Platform& platform) {
  if (arguments.empty()) return observe(platform);
  if (arguments.size() == 1 && arguments[0] == "--windows") return listWindows(platform);
  if (arguments.size() == 1 && arguments[0] == "--focus") return focusWindow(platform);
  return unavailableReply(kReasonUnsupportedCommand);
}

int runTool(int argc, const char* const* argv, Platform& platform) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  emit(runCommand(arguments, platform));
  return 0;
}

}  // namespace nevo
