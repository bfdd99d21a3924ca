#include "platform/macos/cf_values.h"

#include <utf8proc.h>

#include <cstddef>
#include <cstdio>
#include <type_traits>
#include <vector>

namespace nevo::macos {
namespace {

// What the conversions rely on of CoreFoundation's types: UniChar is a UTF-16 code unit, and
// the number types named below are the C types they are read into.
static_assert(sizeof(UniChar) == 2 && std::is_unsigned_v<UniChar>);
static_assert(sizeof(SInt64) == 8 && std::is_signed_v<SInt64>);
static_assert(sizeof(double) == 8);  // kCFNumberFloat64Type

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isHighSurrogate(UniChar unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(UniChar unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t c) {
  utf8proc_uint8_t bytes[4];
  const utf8proc_ssize_t length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

std::string formatted(const char* format, double value) {
  // The tool never changes the C library's locale, so the decimal point is ".".
  char buffer[40];
  const int n = std::snprintf(buffer, sizeof buffer, format, value);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// UTF-16 units as UTF-8, a surrogate that is not half of a pair as U+FFFD.
std::string utf8FromUtf16(const UniChar* units, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const UniChar unit = units[i];
    if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(units[i + 1])) {
      const char32_t high = unit - 0xD800u;
      const char32_t low = units[i + 1] - 0xDC00u;
      appendUtf8(out, 0x10000 + (high << 10) + low);
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendUtf8(out, kReplacementCharacter);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace

std::string utf8String(CFStringRef string) {
  if (string == nullptr) return {};
  const CFIndex length = CFStringGetLength(string);
  if (length <= 0) return {};
  std::vector<UniChar> units(static_cast<std::size_t>(length));
  CFStringGetCharacters(string, CFRange{0, length}, units.data());
  return utf8FromUtf16(units.data(), units.size());
}

CfRef cfString(std::string_view text) {
  return CfRef::adopt(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

NumberValue numberValue(CFNumberRef number) {
  NumberValue result;
  CFNumberGetValue(number, kCFNumberFloat64Type, &result.value);
  if (CFNumberIsFloatType(number)) {
    const CFNumberType type = CFNumberGetType(number);
    const bool single = type == kCFNumberFloat32Type || type == kCFNumberFloatType;
    result.text = formatted(single ? "%0.7g" : "%0.16g", result.value);
    return result;
  }
  SInt64 integer = 0;
  if (CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) {
    result.text = std::to_string(integer);
  } else {
    // An integer beyond the signed 64-bit range: its nearest double is the best text left.
    result.text = formatted("%0.16g", result.value);
  }
  return result;
}

}  // namespace nevo::macos
