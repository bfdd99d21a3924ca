// The focus command (--focus): read one window entry from standard input, make sure it
// still denotes exactly one window, bring that window forward and confirm its focus.
#pragma once

#include "reply/reply.h"
#include "platform/platform.h"

namespace nevo {

Reply focusWindow(Platform& platform);

}  // namespace nevo
