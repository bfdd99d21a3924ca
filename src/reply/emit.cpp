#include "reply/emit.h"

#include <poll.h>
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

bool writeAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host made its end non-blocking: wait until it can take more.
      pollfd ready{fd, POLLOUT, 0};
      while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
      }
      continue;
    }
    return false;  // the host stopped listening (or the descriptor is unusable)
  }
  return true;
}

void emit(const Reply& reply) {
  const std::optional<std::string> line = serializeReply(reply);
  if (!line) return;
  writeAll(STDOUT_FILENO, *line + '\n');
}

}  // namespace nevo
