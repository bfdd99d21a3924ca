#include "focus/focus_request.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/text.h"
#include "windows/applications.h"

namespace nevo {
namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() ? &*it : nullptr;
}

const std::string* stringMember(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = member(object, key);
  return value != nullptr && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

// A base-10 integer: ASCII digits with an optional leading sign, fitting 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  // from_chars takes a minus sign but not a plus sign.
  if (text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// The window index of an id that names `pid`: exactly "<pid>:<index>" in canonical
// decimal, with the index below the window limit.
std::optional<std::int64_t> decodeWindowIndex(const std::string& id, ProcessId pid) {
  const std::size_t colon = id.find(':');
  if (colon == std::string::npos || id.find(':', colon + 1) != std::string::npos) {
    return std::nullopt;
  }
  if (std::string_view(id).substr(0, colon) != std::to_string(pid)) return std::nullopt;
  const std::optional<std::int64_t> index = parseInteger(std::string_view(id).substr(colon + 1));
  if (!index || *index < 0 || *index >= kWindowLimit) return std::nullopt;
  if (id != windowEntryId(pid, *index)) return std::nullopt;
  return index;
}

}  // namespace

std::optional<double> inputNumber(const nlohmann::json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  const double number = value->get<double>();
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<bool> inputBoolean(const nlohmann::json* value) {
  if (value == nullptr || !value->is_boolean()) return std::nullopt;
  return value->get<bool>();
}

std::string readFocusInput(Platform& platform) {
  std::string buffer;
  while (buffer.size() <= kInputLimit) {
    const std::string chunk =
        platform.readStandardInput(std::min(kInputLimit + 1 - buffer.size(), kInputChunk));
    if (chunk.empty()) break;
    buffer += chunk;
  }
  return buffer;
}

OrReply<FocusRequest> parseFocusRequest(std::string_view input) {
  const Reply invalid = unavailableReply(kReasonInvalidEntry);
  if (input.size() > kInputLimit) return invalid;
  // No JSON text holds a NUL byte, and the parser would take one for the end of the input
  // and ignore whatever follows it.
  if (input.find('\0') != std::string_view::npos) return invalid;
  const nlohmann::json entry = nlohmann::json::parse(input, nullptr, /*allow_exceptions=*/false);
  if (!entry.is_object() || entry.empty()) return invalid;

  FocusRequest request;
  const std::string* id = stringMember(entry, "id");
  if (id == nullptr) return invalid;
  request.id = *id;

  const std::optional<double> pid = inputNumber(member(entry, "pid"));
  if (!pid || !(*pid > 0) || *pid > kLargestProcessIdentifier || *pid != std::round(*pid)) {
    return invalid;
  }
  request.pid = static_cast<ProcessId>(*pid);

  const std::string* appName = stringMember(entry, "appName");
  if (appName == nullptr || longerThan(*appName, kApplicationNameLimit)) return invalid;
  request.appName = *appName;

  const std::string* title = stringMember(entry, "title");
  if (title == nullptr || longerThan(*title, kTitleLimit)) return invalid;
  request.title = *title;

  const nlohmann::json* frame = member(entry, "bounds");
  if (frame == nullptr || !frame->is_object()) return invalid;
  const auto x = inputNumber(member(*frame, "x"));
  const auto y = inputNumber(member(*frame, "y"));
  const auto width = inputNumber(member(*frame, "width"));
  const auto height = inputNumber(member(*frame, "height"));
  if (!x || !y || !width || !height || !(*width > 0) || !(*height > 0)) return invalid;
  request.bounds = Rect{*x, *y, *width, *height};

  const auto isMinimized = inputBoolean(member(entry, "isMinimized"));
  if (!isMinimized) return invalid;
  request.isMinimized = *isMinimized;
  const auto isFrontmost = inputBoolean(member(entry, "isFrontmost"));
  if (!isFrontmost) return invalid;
  request.isFrontmost = *isFrontmost;

  // The fields are sound; an id that does not name a window of this pid means the entry
  // belongs to another listing.
  const std::optional<std::int64_t> index = decodeWindowIndex(request.id, request.pid);
  if (!index) return unavailableReply(kReasonApplicationChanged);
  request.index = *index;
  return request;
}

}  // namespace nevo
