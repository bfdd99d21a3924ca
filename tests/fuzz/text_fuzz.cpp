// The text rules on any bytes: grapheme cuts (graphemePrefix, longerThan) and canonical
// equality (canonicalForm, canonicallyEqual), checked against each other and, for
// well-formed UTF-8, against utf8proc's own normalisation. Aborts on a broken invariant.
#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "byte_reader.h"
#include "platform/text.h"

namespace nevo::fuzz {
namespace {

[[noreturn]] void fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "\n%s\n  a (%zu bytes): %.300s\n  b (%zu bytes): %.300s\n", what, a.size(),
               a.c_str(), b.size(), b.c_str());
  std::abort();
}

// utf8proc's normalisation of well-formed UTF-8 (NFD or NFC), embedded NUL bytes included.
std::string normalized(const std::string& s, bool compose) {
  utf8proc_uint8_t* out = nullptr;
  const auto options = static_cast<utf8proc_option_t>(
      UTF8PROC_STABLE | (compose ? UTF8PROC_COMPOSE : UTF8PROC_DECOMPOSE));
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                   static_cast<utf8proc_ssize_t>(s.size()), &out, options);
  if (length < 0) fail("utf8proc refused well-formed UTF-8", s, "");
  std::string result(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
  std::free(out);
  return result;
}

std::u32string codePoints(const std::string& s) {
  std::u32string points;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
  for (utf8proc_ssize_t i = 0; i < static_cast<utf8proc_ssize_t>(s.size());) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t n =
        utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(s.size()) - i, &c);
    if (n < 1) fail("utf8proc gave ill-formed UTF-8", s, "");
    points.push_back(static_cast<char32_t>(c));
    i += n;
  }
  return points;
}

bool ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

void checkCut(const std::string& a, std::size_t n) {
  const std::string prefix = graphemePrefix(a, n);
  if (a.compare(0, prefix.size(), prefix) != 0) fail("the cut is not a prefix", a, prefix);
  if ((prefix == a) == longerThan(a, n)) fail("the cut and longerThan disagree", a, prefix);
  if (longerThan(prefix, n)) fail("the cut is longer than its limit", a, prefix);
  if (prefix != a && n > 0 && !longerThan(prefix, n - 1)) {
    fail("a cut string has fewer characters than its limit", a, prefix);
  }
  if (graphemePrefix(prefix, n) != prefix) fail("cutting the cut changes it", a, prefix);
  const std::string longer = graphemePrefix(a, n + 1);
  if (longer.compare(0, prefix.size(), prefix) != 0) {
    fail("a longer cut does not extend the shorter one", a, longer);
  }
  if (wellFormedUtf8(a) && !wellFormedUtf8(prefix)) fail("the cut split a character", a, prefix);
}

void checkEquality(const std::string& a, const std::string& b) {
  const bool equal = canonicallyEqual(a, b);
  if (equal != canonicallyEqual(b, a)) fail("equality is not symmetric", a, b);
  if (equal != (canonicalForm(a) == canonicalForm(b))) fail("equality and forms disagree", a, b);
  if (!canonicallyEqual(a, a)) fail("a string differs from itself", a, a);
  if (ascii(a) && ascii(b) && equal != (a == b)) fail("ASCII equality is not byte equality", a, b);
  if (wellFormedUtf8(a)) {
    const std::string nfd = normalized(a, false);
    if (canonicalForm(a) != codePoints(nfd)) fail("the form is not utf8proc's NFD", a, nfd);
    const std::string nfc = normalized(a, true);
    if (!canonicallyEqual(a, nfc) || !canonicallyEqual(nfd, a)) {
      fail("a string differs from its own normal form", a, nfc);
    }
  }
}

}  // namespace
}  // namespace nevo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nevo::fuzz;
  ByteReader in(data, size);
  const std::size_t limit = in.integer<std::uint16_t>() % 5000;
  const std::string a = in.text(true);
  const std::string b = in.rest();
  checkCut(a, limit);
  checkCut(b, limit % 8);
  checkEquality(a, b);
  return 0;
}
