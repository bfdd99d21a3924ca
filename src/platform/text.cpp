#include "platform/text.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace nevo {
namespace {

// Calls `onClusterStart(byteOffset)` at the start of every user-perceived character and
// stops when it returns false. A byte that is not valid UTF-8 counts as a character of
// its own.
template <class OnClusterStart>
void forEachCluster(std::string_view text, OnClusterStart onClusterStart) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_ssize_t offset = 0;
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  while (offset < size) {
    utf8proc_int32_t codepoint = -1;
    utf8proc_ssize_t length = utf8proc_iterate(bytes + offset, size - offset, &codepoint);
    bool starts = true;
    if (length < 1) {
      length = 1;
      codepoint = -1;
      state = 0;
    } else if (previous >= 0) {
      starts = utf8proc_grapheme_break_stateful(previous, codepoint, &state);
    }
    if (starts && !onClusterStart(static_cast<std::size_t>(offset))) return;
    previous = codepoint;
    offset += length;
  }
}

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

// The canonical decomposition (NFD) of a UTF-8 string; absent when it is not valid UTF-8.
std::optional<std::string> decomposed(std::string_view text) {
  utf8proc_uint8_t* out = nullptr;
  const auto length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &out,
                   static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STABLE));
  if (length < 0) return std::nullopt;
  const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(out);
  return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
}

}  // namespace

std::string graphemePrefix(std::string_view text, std::size_t maxCharacters) {
  std::size_t count = 0;
  std::size_t end = text.size();
  forEachCluster(text, [&](std::size_t offset) {
    if (count == maxCharacters) {
      end = offset;
      return false;
    }
    ++count;
    return true;
  });
  return std::string(text.substr(0, end));
}

bool longerThan(std::string_view text, std::size_t maxCharacters) {
  std::size_t count = 0;
  forEachCluster(text, [&](std::size_t) { return ++count <= maxCharacters; });
  return count > maxCharacters;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // ASCII text is its own canonical form: different ASCII strings are never equivalent.
  const auto isAscii = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
  };
  if (isAscii(a) && isAscii(b)) return false;
  const auto da = decomposed(a);
  const auto db = decomposed(b);
  // Text that is not valid UTF-8 has no canonical form; only identical bytes match.
  return da && db && *da == *db;
}

}  // namespace nevo
