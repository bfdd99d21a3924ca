#include "platform/text.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstddef>
#include <vector>

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

// A value for an invalid byte that no valid text decomposes to.
constexpr char32_t kInvalidByteBase = 0x110000;

int combiningClass(char32_t c) {
  if (c >= kInvalidByteBase) return 0;
  return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->combining_class;
}

}  // namespace

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

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

std::u32string canonicalForm(std::string_view text) {
  std::u32string form;
  form.reserve(text.size());
  if (isAscii(text)) {
    form.assign(text.begin(), text.end());
    return form;
  }
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  std::vector<utf8proc_int32_t> pieces(8);
  for (utf8proc_ssize_t offset = 0; offset < size;) {
    utf8proc_int32_t codepoint = -1;
    const utf8proc_ssize_t length = utf8proc_iterate(bytes + offset, size - offset, &codepoint);
    if (length < 1) {
      form.push_back(kInvalidByteBase + bytes[offset]);
      ++offset;
      continue;
    }
    int boundary = 0;
    const auto piecesSize = static_cast<utf8proc_ssize_t>(pieces.size());
    utf8proc_ssize_t count = utf8proc_decompose_char(codepoint, pieces.data(), piecesSize,
                                                     UTF8PROC_DECOMPOSE, &boundary);
    if (count > piecesSize) {
      pieces.resize(static_cast<std::size_t>(count));
      count =
          utf8proc_decompose_char(codepoint, pieces.data(), count, UTF8PROC_DECOMPOSE, &boundary);
    }
    for (utf8proc_ssize_t i = 0; i < count; ++i) {
      form.push_back(static_cast<char32_t>(pieces[static_cast<std::size_t>(i)]));
    }
    offset += length;
  }
  // Canonical ordering: each run of combining marks sorted by combining class, marks of
  // one class keeping their order.
  for (std::size_t i = 0; i < form.size();) {
    if (combiningClass(form[i]) == 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < form.size() && combiningClass(form[end]) != 0) ++end;
    std::stable_sort(form.begin() + static_cast<std::ptrdiff_t>(i),
                     form.begin() + static_cast<std::ptrdiff_t>(end),
                     [](char32_t a, char32_t b) { return combiningClass(a) < combiningClass(b); });
    i = end;
  }
  return form;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // ASCII text is its own canonical form: different ASCII strings are never equivalent.
  if (isAscii(a) && isAscii(b)) return false;
  return canonicalForm(a) == canonicalForm(b);
}

}  // namespace nevo
