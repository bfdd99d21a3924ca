// The entry point's logic: choose the command from the argument list and run it.
#pragma once

#include <string>
#include <vector>

#include "reply/reply.h"
#include "platform/platform.h"

namespace nevo {

// The reply of the command that `arguments` (the process arguments without the program
// name) names: no argument is the observation, exactly "--windows" the window list,
// exactly "--focus" the focus command; anything else the unsupported-command reply,
// given without the permission gate. A command after which the gate no longer passes (its
// requests were refused for want of the permission) gives its permission-denied reply.
Reply runCommand(const std::vector<std::string>& arguments, Platform& platform);

// Runs the tool for the process arguments (program name first) and writes its one reply.
// Returns the exit status, which is always 0.
int runTool(int argc, const char* const* argv, Platform& platform);

}  // namespace nevo
