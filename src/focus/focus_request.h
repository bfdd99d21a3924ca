// The focus command's input: one window entry, as a --windows run wrote it, read from
// standard input and checked field by field.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "reply/reply.h"
#include "platform/attributes.h"
#include "platform/platform.h"
#include "windows/window_records.h"

namespace nevo {

inline constexpr std::string_view kReasonInvalidEntry = "窗口信息无效，请重新获取窗口列表。";
inline constexpr std::string_view kReasonApplicationChanged =
    "目标应用已变化，请重新获取窗口列表。";

// Largest accepted input; one byte more makes the entry invalid.
inline constexpr std::size_t kInputLimit = 32768;
// Largest single read from standard input.
inline constexpr std::size_t kInputChunk = 4096;
inline constexpr double kLargestProcessIdentifier = 2147483647;

// A validated request: the entry's fields, and the window index taken from its id.
struct FocusRequest {
  std::string id;
  ProcessId pid = 0;
  std::int64_t index = 0;
  std::string appName;
  std::string title;
  Rect bounds;
  bool isMinimized = false;
  bool isFrontmost = false;

  WindowIdentity identity() const { return {title, bounds, isMinimized}; }
};

// A JSON number as a finite double; absent for anything else, booleans included.
std::optional<double> inputNumber(const nlohmann::json* value);
// A JSON boolean; absent for anything else, the numbers 0 and 1 included.
std::optional<bool> inputBoolean(const nlohmann::json* value);

// Standard input up to one byte past the limit, read in chunks until end of input.
std::string readFocusInput(Platform& platform);

// The request in `input`, or the invalid-entry or application-changed reply.
OrReply<FocusRequest> parseFocusRequest(std::string_view input);

}  // namespace nevo
