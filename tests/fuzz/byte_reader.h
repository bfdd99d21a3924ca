// Reads a fuzzer's bytes as the values a target builds its case from. Past the end every
// read gives zeros, so any input, the empty one included, makes a case.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace nevo::fuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }

  std::uint8_t byte() { return offset_ < size_ ? data_[offset_++] : 0; }

  // Little-endian, sizeof(T) bytes.
  template <class T>
  T integer() {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= std::uint64_t{byte()} << (8 * i);
    T result;
    std::memcpy(&result, &value, sizeof result);
    return result;
  }

  // Any 64-bit pattern: NaNs, infinities, subnormals and negative zero included.
  double bits() {
    const auto raw = integer<std::uint64_t>();
    double value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
  }

  // A length byte (or two, when `wide`), then up to that many bytes.
  std::string text(bool wide = false) {
    const std::size_t length = wide ? integer<std::uint16_t>() : byte();
    const std::size_t taken = std::min(length, size_ - std::min(offset_, size_));
    std::string result(reinterpret_cast<const char*>(data_ + std::min(offset_, size_)), taken);
    offset_ += taken;
    return result;
  }

  // Whatever is left.
  std::string rest() {
    std::string result(reinterpret_cast<const char*>(data_ + std::min(offset_, size_)),
                       size_ - std::min(offset_, size_));
    offset_ = size_;
    return result;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// Whether the bytes are well-formed UTF-8: no stray or missing continuation bytes, no
// overlong forms, no surrogates, nothing past U+10FFFF.
inline bool wellFormedUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      point = c & 0x07;
    } else {
      return false;
    }
    if (i + length > s.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      point = (point << 6) | (d & 0x3F);
    }
    if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000)) return false;
    if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

}  // namespace nevo::fuzz
