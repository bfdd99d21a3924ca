#include "platform/linux/text_utf8.h"

#include <utf8proc.h>

#include "platform/text.h"

namespace nevo::lin {

std::string validUtf8(std::string_view text) {
  // Most texts are ASCII: they are valid as they are.
  if (isAscii(text)) return std::string(text);
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  for (utf8proc_ssize_t at = 0; at < size;) {
    utf8proc_int32_t codepoint = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &codepoint);
    if (length <= 0) {
      out += kReplacement;
      ++at;
      continue;
    }
    out.append(text.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(length)));
    at += length;
  }
  return out;
}

}  // namespace nevo::lin
