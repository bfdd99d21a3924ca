#include "app/emit.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>

namespace nevo {
namespace {

bool hasNonFiniteNumber(const Reply& value) {
  if (value.is_number_float()) return !std::isfinite(value.get<double>());
  if (value.is_structured()) {
    for (const auto& member : value) {
      if (hasNonFiniteNumber(member)) return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> serializeReply(const Reply& reply) {
  if (hasNonFiniteNumber(reply)) return std::nullopt;
  std::string compact;
  try {
    compact = reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;  // a string that is not valid UTF-8
  }
  // A solidus can only occur inside strings (keys included), and its byte never occurs
  // inside a multi-byte UTF-8 sequence, so escaping every one is exact.
  std::string line;
  line.reserve(compact.size() + 8);
  for (const char c : compact) {
    if (c == '/') line += '\\';
    line += c;
  }
  return line;
}

void emit(const Reply& reply) {
  const std::optional<std::string> line = serializeReply(reply);
  if (!line) return;
  const std::string out = *line + '\n';
  std::size_t written = 0;
  while (written < out.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, out.data() + written, out.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the host stopped listening; there is no one left to tell
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace nevo
