#include "platform/linux/dbus_wire.h"

#include <bit>
#include <cstring>

namespace nevo::lin {
namespace {

// Header flags.
constexpr std::uint8_t kFlagNoAutoStart = 0x2;
constexpr std::uint8_t kProtocolVersion = 1;
// Header field codes.
constexpr std::uint8_t kFieldPath = 1;
constexpr std::uint8_t kFieldInterface = 2;
constexpr std::uint8_t kFieldMember = 3;
constexpr std::uint8_t kFieldErrorName = 4;
constexpr std::uint8_t kFieldReplySerial = 5;
constexpr std::uint8_t kFieldDestination = 6;
constexpr std::uint8_t kFieldSender = 7;
constexpr std::uint8_t kFieldSignature = 8;
constexpr std::uint8_t kFieldUnixFds = 9;
// The fixed part of a header: byte order, type, flags, version, body length, serial, and
// the length of the header fields.
constexpr std::size_t kFixedHeaderSize = 16;
// The protocol's longest name, and its deepest nesting of containers (32 arrays and 32
// structures).
constexpr std::size_t kNameLengthLimit = 255;
constexpr int kNestingLimit = 64;
// The most containers a call written here holds open at once.
constexpr std::size_t kOpenArrayLimit = 8;

// Signature characters and values looked at by the reader on this thread (see readerSteps).
thread_local std::uint64_t steps = 0;

constexpr std::size_t alignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

std::size_t alignmentOf(char type) {
  switch (type) {
    case kTypeInt16:
    case kTypeUint16:
      return 2;
    case kTypeBoolean:
    case kTypeInt32:
    case kTypeUint32:
    case kTypeUnixFd:
    case kTypeString:
    case kTypeObjectPath:
    case kTypeArray:
      return 4;
    case kTypeInt64:
    case kTypeUint64:
    case kTypeDouble:
    case kTypeStruct:
    case kTypeDictEntry:
      return 8;
    default:  // byte, signature, variant
      return 1;
  }
}

bool basicType(char type) {
  switch (type) {
    case kTypeByte:
    case kTypeBoolean:
    case kTypeInt16:
    case kTypeUint16:
    case kTypeInt32:
    case kTypeUint32:
    case kTypeInt64:
    case kTypeUint64:
    case kTypeDouble:
    case kTypeString:
    case kTypeObjectPath:
    case kTypeSignature:
    case kTypeUnixFd:
      return true;
    default:
      return false;
  }
}

// The length of the single complete type at the start of `signature`, or 0 when there is
// none there.
std::size_t completeType(std::string_view signature, int depth = 0) {
  ++steps;
  if (signature.empty() || depth > kNestingLimit) return 0;
  const char type = signature[0];
  if (basicType(type) || type == kTypeVariant) return 1;
  if (type == kTypeArray) {
    const std::size_t element = completeType(signature.substr(1), depth + 1);
    return element == 0 ? 0 : 1 + element;
  }
  if (type == kTypeStruct || type == kTypeDictEntry) {
    const char close = type == kTypeStruct ? ')' : '}';
    std::size_t at = 1;
    int members = 0;
    while (at < signature.size() && signature[at] != close) {
      const std::size_t member = completeType(signature.substr(at), depth + 1);
      if (member == 0) return 0;
      at += member;
      ++members;
    }
    if (at >= signature.size() || members == 0) return 0;
    if (type == kTypeDictEntry && (members != 2 || !basicType(signature[1]))) return 0;
    return at + 1;
  }
  return 0;
}

// Whether `signature` is a sequence of whole types (the empty one included).
bool wholeTypes(std::string_view signature) {
  while (!signature.empty()) {
    const std::size_t length = completeType(signature);
    if (length == 0) return false;
    signature.remove_prefix(length);
  }
  return true;
}

bool nameCharacter(char c, bool hyphen) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         (hyphen && c == '-');
}

bool digit(char c) {
  return c >= '0' && c <= '9';
}

// Dot-separated elements of name characters, at least two; none may start with a digit
// unless `digitsFirst`.
bool dottedName(std::string_view name, bool hyphen, bool digitsFirst) {
  if (name.empty() || name.size() > kNameLengthLimit) return false;
  int elements = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    const std::string_view element =
        name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (element.empty() || (!digitsFirst && digit(element[0]))) return false;
    for (const char c : element) {
      if (!nameCharacter(c, hyphen)) return false;
    }
    ++elements;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

std::uint32_t swapBytes(std::uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u) | (value << 24);
}

// Calls are written in this machine's byte order and marked little-endian ('l'), which
// holds only on a little-endian machine.
static_assert(std::endian::native == std::endian::little,
              "calls are written in native byte order and marked little-endian");

void put32(std::string& into, std::uint32_t value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  into.append(bytes, sizeof value);
}

std::uint32_t read32At(std::string_view data, std::size_t at, bool bigEndian) {
  std::uint32_t value = 0;
  std::memcpy(&value, data.data() + at, sizeof value);
  return bigEndian ? swapBytes(value) : value;
}

}  // namespace

bool validBusName(std::string_view name) {
  if (!name.empty() && name[0] == ':') return dottedName(name.substr(1), true, true);
  return dottedName(name, true, false);
}

bool validObjectPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  if (path.size() == 1) return true;
  if (path.back() == '/') return false;
  bool previousSlash = true;
  for (std::size_t i = 1; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '/') {
      if (previousSlash) return false;
      previousSlash = true;
    } else if (nameCharacter(c, false)) {
      previousSlash = false;
    } else {
      return false;
    }
  }
  return true;
}

bool validInterfaceName(std::string_view name) {
  return dottedName(name, false, false);
}

bool validMemberName(std::string_view name) {
  if (name.empty() || name.size() > kNameLengthLimit || digit(name[0])) return false;
  for (const char c : name) {
    if (!nameCharacter(c, false)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Writing calls.

CallWriter::CallWriter(std::string_view destination, std::string_view path,
                       std::string_view interface, std::string_view member)
    : destination_(destination), path_(path), interface_(interface), member_(member) {
  valid_ = (destination.empty() || validBusName(destination)) && validObjectPath(path) &&
           validInterfaceName(interface) && validMemberName(member);
}

void CallWriter::align(std::size_t alignment) {
  body_.resize(alignUp(body_.size(), alignment), '\0');
}

void CallWriter::appendType(char type) {
  // Inside an array the element's signature was given when the array was opened.
  if (arrayDepth_ == 0) signature_ += type;
}

CallWriter& CallWriter::boolean(bool value) {
  appendType(kTypeBoolean);
  align(4);
  put32(body_, value ? 1 : 0);
  return *this;
}

CallWriter& CallWriter::int32(std::int32_t value) {
  appendType(kTypeInt32);
  align(4);
  put32(body_, static_cast<std::uint32_t>(value));
  return *this;
}

CallWriter& CallWriter::uint32(std::uint32_t value) {
  appendType(kTypeUint32);
  align(4);
  put32(body_, value);
  return *this;
}

CallWriter& CallWriter::string(std::string_view value) {
  appendType(kTypeString);
  if (value.find('\0') != std::string_view::npos || value.size() > kMessageSizeLimit) {
    valid_ = false;
    return *this;
  }
  align(4);
  put32(body_, static_cast<std::uint32_t>(value.size()));
  body_.append(value);
  body_ += '\0';
  return *this;
}

CallWriter& CallWriter::openArray(std::string_view elementSignature) {
  if (completeType(elementSignature) != elementSignature.size() || arrayDepth_ >= kOpenArrayLimit) {
    valid_ = false;
    return *this;
  }
  if (arrayDepth_ == 0) {
    signature_ += kTypeArray;
    signature_ += elementSignature;
  }
  align(4);
  const std::size_t lengthAt = body_.size();
  put32(body_, 0);
  // The padding before the first element belongs to the array even when it is empty.
  align(alignmentOf(elementSignature[0]));
  arrays_[arrayDepth_++] = OpenArray{lengthAt, body_.size()};
  openContainers_ += kTypeArray;
  return *this;
}

CallWriter& CallWriter::closeArray() {
  if (openContainers_.empty() || openContainers_.back() != kTypeArray) {
    valid_ = false;
    return *this;
  }
  openContainers_.pop_back();
  const OpenArray& array = arrays_[--arrayDepth_];
  const auto length = static_cast<std::uint32_t>(body_.size() - array.elementsAt);
  std::memcpy(body_.data() + array.lengthAt, &length, sizeof length);
  return *this;
}

CallWriter& CallWriter::openStruct() {
  appendType(kTypeStruct);
  align(8);
  openContainers_ += kTypeStruct;
  return *this;
}

CallWriter& CallWriter::closeStruct() {
  if (openContainers_.empty() || openContainers_.back() != kTypeStruct) {
    valid_ = false;
    return *this;
  }
  openContainers_.pop_back();
  appendType(')');
  return *this;
}

Call CallWriter::finish() {
  if (!valid_ || !openContainers_.empty() || body_.size() > kMessageSizeLimit) return {};
  const std::string& body = body_;
  std::string message;
  message.reserve(kFixedHeaderSize + 64 + path_.size() + interface_.size() + member_.size() +
                  destination_.size() + signature_.size() + body.size());
  const auto pad = [&](std::size_t alignment) {
    message.resize(alignUp(message.size(), alignment), '\0');
  };
  message += 'l';  // little-endian, as this machine
  message += static_cast<char>(kMessageMethodCall);
  message += static_cast<char>(kFlagNoAutoStart);
  message += static_cast<char>(kProtocolVersion);
  put32(message, static_cast<std::uint32_t>(body.size()));
  put32(message, 0);  // the serial, written by the link that sends the call
  put32(message, 0);  // the length of the header fields, written below
  const auto field = [&](std::uint8_t code, char type, std::string_view value) {
    pad(8);
    message += static_cast<char>(code);
    message += '\1';
    message += type;
    message += '\0';
    if (type == kTypeSignature) {
      message += static_cast<char>(value.size());
    } else {
      pad(4);
      put32(message, static_cast<std::uint32_t>(value.size()));
    }
    message.append(value);
    message += '\0';
  };
  field(kFieldPath, kTypeObjectPath, path_);
  field(kFieldInterface, kTypeString, interface_);
  field(kFieldMember, kTypeString, member_);
  if (!destination_.empty()) field(kFieldDestination, kTypeString, destination_);
  if (!signature_.empty()) field(kFieldSignature, kTypeSignature, signature_);
  const auto fieldsLength = static_cast<std::uint32_t>(message.size() - kFixedHeaderSize);
  std::memcpy(message.data() + 12, &fieldsLength, sizeof fieldsLength);
  pad(8);
  message.append(body);
  return Call{std::move(message), std::string(member_), {}};
}

// ---------------------------------------------------------------------------------------
// Reading messages.

std::uint64_t readerSteps() {
  return steps;
}

std::optional<std::size_t> messageLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  if (bytes[0] != 'l' && bytes[0] != 'B') return std::nullopt;
  if (bytes.size() < kFixedHeaderSize) return 0;
  if (static_cast<std::uint8_t>(bytes[3]) != kProtocolVersion) return std::nullopt;
  const bool bigEndian = bytes[0] == 'B';
  const std::size_t bodyLength = read32At(bytes, 4, bigEndian);
  const std::size_t fieldsLength = read32At(bytes, 12, bigEndian);
  if (bodyLength > kProtocolMessageLimit || fieldsLength > kProtocolMessageLimit) {
    return std::nullopt;
  }
  const std::size_t length = alignUp(kFixedHeaderSize + fieldsLength, 8) + bodyLength;
  if (length > kProtocolMessageLimit) return std::nullopt;
  return length;
}

namespace {

// The type each header field the protocol defines holds (0 for a code it does not define,
// whose value is skipped).
char headerFieldType(std::uint8_t code) {
  switch (code) {
    case kFieldPath:
      return kTypeObjectPath;
    case kFieldInterface:
    case kFieldMember:
    case kFieldErrorName:
    case kFieldDestination:
    case kFieldSender:
      return kTypeString;
    case kFieldReplySerial:
    case kFieldUnixFds:
      return kTypeUint32;
    case kFieldSignature:
      return kTypeSignature;
    default:
      return kTypeInvalid;
  }
}

}  // namespace

std::optional<ReceivedMessage> parseHeader(std::string_view bytes) {
  const std::optional<std::size_t> length = messageLength(bytes);
  if (!length || *length == 0) return std::nullopt;
  ReceivedMessage message;
  message.bigEndian = bytes[0] == 'B';
  message.type = static_cast<std::uint8_t>(bytes[1]);
  const std::size_t fieldsEnd = kFixedHeaderSize + read32At(bytes, 12, message.bigEndian);
  if (fieldsEnd > bytes.size()) return std::nullopt;
  // The header fields, an array of (code, variant), each read once, with alignment counted
  // from the start of the message. A field the protocol defines must hold its type; the
  // value of any other is skipped, at the cost of its bytes.
  const std::string_view fields = bytes.substr(0, fieldsEnd);
  std::size_t at = kFixedHeaderSize;
  while (at < fieldsEnd) {
    at = alignUp(at, 8);
    if (at + 3 > fieldsEnd) return std::nullopt;
    const auto code = static_cast<std::uint8_t>(bytes[at]);
    const ArgReader field(fields, message.bigEndian, at + 1, fieldsEnd, "v", false, 1);
    const std::optional<std::string_view> type = field.variantType(at + 1);
    if (code == 0 || !type) return std::nullopt;
    const char expected = headerFieldType(code);
    if (expected != kTypeInvalid && (type->size() != 1 || (*type)[0] != expected)) {
      return std::nullopt;
    }
    const ArgReader value(fields, message.bigEndian, at + 3 + type->size(), fieldsEnd, *type,
                          false, 1);
    if (code == kFieldReplySerial) {
      message.replySerial = value.uint32().value_or(0);
    } else if (code == kFieldSignature) {
      const std::optional<std::string_view> signature = value.signature();
      if (!signature) return std::nullopt;
      message.signature = *signature;
    }
    std::size_t typeAt = 0;
    const std::optional<std::size_t> after = value.skip(*type, typeAt, value.position_, 1);
    if (!after) return std::nullopt;
    at = *after;
  }
  if (at != fieldsEnd) return std::nullopt;
  return message;
}

std::optional<ReceivedMessage> parseMessage(std::string_view bytes) {
  const std::optional<std::size_t> length = messageLength(bytes);
  if (!length || *length == 0 || *length != bytes.size() || *length > kMessageSizeLimit) {
    return std::nullopt;
  }
  std::optional<ReceivedMessage> message = parseHeader(bytes);
  if (!message) return std::nullopt;
  const std::size_t bodyLength = read32At(bytes, 4, message->bigEndian);
  message->body = bytes.substr(bytes.size() - bodyLength);
  return message;
}

ArgReader::ArgReader(const ReceivedMessage& message)
    : ArgReader(message.body, message.bigEndian, 0, message.body.size(), message.signature, false,
                0) {}

ArgReader::ArgReader(std::string_view data, bool bigEndian, std::size_t position, std::size_t end,
                     std::string_view signature, bool inArray, int depth)
    : data_(data),
      bigEndian_(bigEndian),
      position_(position),
      end_(end),
      signature_(signature),
      inArray_(inArray),
      depth_(depth),
      valid_(end <= data.size() && position <= end && depth <= kNestingLimit) {}

char ArgReader::type() const {
  if (!valid_ || signature_.empty()) return kTypeInvalid;
  if (inArray_ && position_ >= end_) return kTypeInvalid;
  const char current = signature_[0];
  // The end of the structure or dict entry whose members are read.
  if (current == ')' || current == '}') return kTypeInvalid;
  return current;
}

std::optional<std::uint32_t> ArgReader::read32(std::size_t position) const {
  const std::size_t at = alignUp(position, 4);
  if (at + 4 > end_) return std::nullopt;
  return read32At(data_, at, bigEndian_);
}

std::optional<std::string_view> ArgReader::variantType(std::size_t at) const {
  if (at >= end_) return std::nullopt;
  const std::size_t size = static_cast<std::uint8_t>(data_[at]);
  if (at + 2 + size > end_ || data_[at + 1 + size] != '\0') return std::nullopt;
  const std::string_view inner = data_.substr(at + 1, size);
  if (completeType(inner) != inner.size()) return std::nullopt;
  return inner;
}

// The signature is walked together with the bytes: each type code is looked at once for
// each value of it (an array's elements are passed over by its length, which takes one walk
// of the element's type), so that a value costs what its bytes and its type's length do,
// however deep it nests.
std::optional<std::size_t> ArgReader::skip(std::string_view signature, std::size_t& typeAt,
                                           std::size_t position, int depth) const {
  ++steps;
  if (depth > kNestingLimit || typeAt >= signature.size()) return std::nullopt;
  const char code = signature[typeAt];
  const std::size_t at = alignUp(position, alignmentOf(code));
  if (at > end_) return std::nullopt;
  ++typeAt;
  const auto fixed = [&](std::size_t size) -> std::optional<std::size_t> {
    if (size > end_ - at) return std::nullopt;
    return at + size;
  };
  switch (code) {
    case kTypeByte:
      return fixed(1);
    case kTypeInt16:
    case kTypeUint16:
      return fixed(2);
    case kTypeBoolean:
    case kTypeInt32:
    case kTypeUint32:
    case kTypeUnixFd:
      return fixed(4);
    case kTypeInt64:
    case kTypeUint64:
    case kTypeDouble:
      return fixed(8);
    case kTypeString:
    case kTypeObjectPath: {
      const std::optional<std::uint32_t> size = read32(at);
      if (!size || *size >= end_ - at - 4 || data_[at + 4 + *size] != '\0') return std::nullopt;
      return at + 4 + *size + 1;
    }
    case kTypeSignature: {
      if (at >= end_) return std::nullopt;
      const std::size_t size = static_cast<std::uint8_t>(data_[at]);
      if (at + 2 + size > end_ || data_[at + 1 + size] != '\0') return std::nullopt;
      return at + 2 + size;
    }
    case kTypeArray: {
      const std::size_t element = completeType(signature.substr(typeAt), depth + 1);
      if (element == 0) return std::nullopt;
      const char elementType = signature[typeAt];
      typeAt += element;
      const std::optional<std::uint32_t> size = read32(at);
      if (!size) return std::nullopt;
      const std::size_t first = alignUp(at + 4, alignmentOf(elementType));
      if (first > end_ || *size > end_ - first) return std::nullopt;
      return first + *size;
    }
    case kTypeStruct:
    case kTypeDictEntry: {
      const char close = code == kTypeStruct ? ')' : '}';
      std::size_t next = at;
      while (typeAt < signature.size() && signature[typeAt] != close) {
        const std::optional<std::size_t> after = skip(signature, typeAt, next, depth + 1);
        if (!after) return std::nullopt;
        next = *after;
      }
      if (typeAt >= signature.size()) return std::nullopt;
      ++typeAt;
      return next;
    }
    case kTypeVariant: {
      const std::optional<std::string_view> inner = variantType(at);
      if (!inner) return std::nullopt;
      std::size_t innerAt = 0;
      return skip(*inner, innerAt, at + 2 + inner->size(), depth + 1);
    }
    default:
      return std::nullopt;
  }
}

bool ArgReader::next() {
  const char current = type();
  if (current == kTypeInvalid) return false;
  std::size_t typeAt = 0;
  const std::optional<std::size_t> after = skip(signature_, typeAt, position_, depth_);
  if (!after) {
    valid_ = false;
    return false;
  }
  position_ = *after;
  // In an array the same type follows, up to the array's end or the most elements read.
  if (inArray_) {
    if (++elements_ >= kArrayElementLimit) position_ = end_;
    return position_ < end_;
  }
  signature_.remove_prefix(typeAt);
  return type() != kTypeInvalid;
}

std::optional<std::uint8_t> ArgReader::byte() const {
  if (type() != kTypeByte || position_ >= end_) return std::nullopt;
  return static_cast<std::uint8_t>(data_[position_]);
}

std::optional<std::uint32_t> ArgReader::uint32() const {
  if (type() != kTypeUint32) return std::nullopt;
  return read32(position_);
}

std::optional<std::int32_t> ArgReader::int32() const {
  if (type() != kTypeInt32) return std::nullopt;
  const std::optional<std::uint32_t> bits = read32(position_);
  if (!bits) return std::nullopt;
  return static_cast<std::int32_t>(*bits);
}

std::optional<double> ArgReader::float64() const {
  if (type() != kTypeDouble) return std::nullopt;
  const std::size_t at = alignUp(position_, 8);
  if (at + 8 > end_) return std::nullopt;
  std::uint64_t bits = 0;
  std::memcpy(&bits, data_.data() + at, sizeof bits);
  if (bigEndian_) {
    bits = (std::uint64_t{swapBytes(static_cast<std::uint32_t>(bits))} << 32) |
           swapBytes(static_cast<std::uint32_t>(bits >> 32));
  }
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::optional<bool> ArgReader::boolean() const {
  if (type() != kTypeBoolean) return std::nullopt;
  const std::optional<std::uint32_t> bits = read32(position_);
  if (!bits || *bits > 1) return std::nullopt;
  return *bits == 1;
}

std::optional<std::string_view> ArgReader::string(std::size_t limit) const {
  const char current = type();
  if (current != kTypeString && current != kTypeObjectPath) return std::nullopt;
  const std::optional<std::uint32_t> size = read32(position_);
  const std::size_t at = alignUp(position_, 4) + 4;
  if (!size || *size >= end_ - std::min(at, end_) || data_[at + *size] != '\0') {
    return std::nullopt;
  }
  // A path longer than any object's is no object's: refused, never cut.
  if (current == kTypeObjectPath && *size > kPathLimit) return std::nullopt;
  std::string_view text = data_.substr(at, std::min<std::size_t>(*size, limit));
  if (text.size() < *size) {
    // Cut before a character's continuation bytes, so that no character is split.
    std::size_t cut = text.size();
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(data_[at + cut]) & 0xc0) == 0x80;
         ++back) {
      --cut;
    }
    text = text.substr(0, cut);
  }
  // The protocol's strings hold no NUL.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  return text;
}

std::optional<std::string_view> ArgReader::signature() const {
  if (type() != kTypeSignature || position_ >= end_) return std::nullopt;
  const std::size_t size = static_cast<std::uint8_t>(data_[position_]);
  if (position_ + 2 + size > end_ || data_[position_ + 1 + size] != '\0') return std::nullopt;
  const std::string_view text = data_.substr(position_ + 1, size);
  // Only whole types.
  if (!wholeTypes(text)) return std::nullopt;
  return text;
}

// A container's reader is given the signature from its first member on, to the end of the
// enclosing one: it reads up to its own closing character (a structure's members) or reads
// one type again and again (an array's elements), each member walked by skip. No type's
// extent is measured in advance, so that reading into a value nested n deep costs n steps.
std::optional<ArgReader> ArgReader::recurse(char containerType) const {
  const char current = type();
  if (current != containerType) return std::nullopt;
  ++steps;
  // An array's or a structure's type holds at least one more character.
  if (current != kTypeVariant && signature_.size() < 2) return std::nullopt;
  switch (current) {
    case kTypeArray: {
      const std::optional<std::uint32_t> size = read32(position_);
      const std::string_view element = signature_.substr(1);
      const std::size_t first = alignUp(alignUp(position_, 4) + 4, alignmentOf(element[0]));
      if (!size || first > end_ || *size > end_ - first) return std::nullopt;
      return ArgReader(data_, bigEndian_, first, first + *size, element, true, depth_ + 1);
    }
    case kTypeStruct:
    case kTypeDictEntry:
      return ArgReader(data_, bigEndian_, alignUp(position_, 8), end_, signature_.substr(1), false,
                       depth_ + 1);
    case kTypeVariant: {
      const std::optional<std::string_view> inner = variantType(position_);
      if (!inner) return std::nullopt;
      return ArgReader(data_, bigEndian_, position_ + 2 + inner->size(), end_, *inner, false,
                       depth_ + 1);
    }
    default:
      return std::nullopt;
  }
}

}  // namespace nevo::lin
