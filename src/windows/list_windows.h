// The window list command (--windows): the windows of the ordinary running applications,
// frontmost application first, each as a window entry that --focus can take back.
#pragma once

#include <cstddef>

#include "reply/reply.h"
#include "platform/platform.h"

namespace nevo {

// How long the listing may take, from just after the permission gate.
inline constexpr double kWindowListSeconds = 1.8;
// Most window entries in one reply.
inline constexpr std::size_t kEntryLimit = 80;

Reply listWindows(Platform& platform);

}  // namespace nevo
