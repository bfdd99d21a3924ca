// The reply envelope: every reply is one JSON object with "status" and, for "denied"
// and "unavailable", a fixed "reason" sentence that tells the host what to do next.
#pragma once

#include <nlohmann/json.hpp>

#include <string_view>
#include <variant>

#include "platform/platform.h"

namespace nevo {

// A reply dictionary. nlohmann::json keeps booleans apart from numbers and its objects
// keep their keys sorted, which is the order the reply is written in.
using Reply = nlohmann::json;

inline constexpr std::string_view kStatusAvailable = "available";
inline constexpr std::string_view kStatusUnavailable = "unavailable";
inline constexpr std::string_view kStatusDenied = "denied";
inline constexpr std::string_view kStatusFocused = "focused";

inline constexpr std::string_view kReasonUnsupportedCommand = "不支持的原生窗口命令。";
inline constexpr std::string_view kReasonPermissionDenied = "需要为 NEVO 开启辅助功能权限。";

// Either what one phase of a command hands to the next, or the reply that ends the command.
template <class T>
using OrReply = std::variant<T, Reply>;

// {"status": "unavailable", "reason": reason}
Reply unavailableReply(std::string_view reason);

// {"status": "denied", "reason": the permission sentence}; the observation and the window
// list add their empty lists to it.
Reply permissionDeniedReply();

// The permission gate with which every command begins: whether this process may use the
// accessibility interface. It never prompts, waits or retries.
bool permissionGranted(Platform& platform);

}  // namespace nevo
