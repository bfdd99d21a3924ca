// The small simulated desktop that the --focus fuzz target runs on: windows that entries
// can name, with one application for each way the focus command can end.
#pragma once

#include <memory>

#include "sim_desktop.h"

namespace nevo::fuzz {

// A fresh desktop (the focus command changes what it runs on):
//   812 "Notes" (frontmost; "Untitled" focused): "Untitled", "Café" spelt with a
//       combining accent at a fractional frame, "Draft" minimized, two "Twin" windows
//       alike, an emoji title at negative coordinates;
//   900 "文件管理器": its raise does not move the focus (never confirmed);
//   901 "Mail": refuses activation;
//   902 "Preview": a minimized window that refuses to be restored;
//   903 "Terminal": 81 windows, more than are checked;
//   904 "Helper": an accessory application, never listed or focused.
std::unique_ptr<sim::SimDesktop> makeFuzzDesktop();

}  // namespace nevo::fuzz
