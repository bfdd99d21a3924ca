// The D-Bus wire format, as far as the backend speaks it: method calls written straight
// into bytes, and received messages read in place.
//
// The backend writes only method calls and reads only their replies, so this is all it
// needs of a D-Bus library, at a fraction of the processor time per call (no locks, no
// copies of a received message, one system call for many messages). Everything received
// is checked before it is read: lengths, alignment, the signature and the bounds of every
// value, so that no reply of any shape can read past its message. A value of an
// unexpected type reads as absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nevo::lin {

// Type codes as they appear in signatures.
inline constexpr char kTypeInvalid = '\0';
inline constexpr char kTypeByte = 'y';
inline constexpr char kTypeBoolean = 'b';
inline constexpr char kTypeInt16 = 'n';
inline constexpr char kTypeUint16 = 'q';
inline constexpr char kTypeInt32 = 'i';
inline constexpr char kTypeUint32 = 'u';
inline constexpr char kTypeInt64 = 'x';
inline constexpr char kTypeUint64 = 't';
inline constexpr char kTypeDouble = 'd';
inline constexpr char kTypeString = 's';
inline constexpr char kTypeObjectPath = 'o';
inline constexpr char kTypeSignature = 'g';
inline constexpr char kTypeUnixFd = 'h';
inline constexpr char kTypeArray = 'a';
inline constexpr char kTypeVariant = 'v';
inline constexpr char kTypeStruct = '(';
inline constexpr char kTypeDictEntry = '{';

// Message types.
inline constexpr std::uint8_t kMessageMethodCall = 1;
inline constexpr std::uint8_t kMessageMethodReturn = 2;
inline constexpr std::uint8_t kMessageError = 3;
inline constexpr std::uint8_t kMessageSignal = 4;

// The longest message read; a longer one is passed over by its length (the protocol allows
// 128 MiB, beyond which the stream cannot be followed).
inline constexpr std::size_t kMessageSizeLimit = 16u << 20;
inline constexpr std::size_t kProtocolMessageLimit = 128u << 20;
// What the reader hands out of one string: the longest name or text the tool keeps is 4096
// characters, and a string of 4097 characters of four bytes each still reads as longer than
// that. A longer string is cut there, before a whole character.
inline constexpr std::size_t kStringLimit = 4 * 4098;
// The longest object path read; a longer one reads as absent (a cut path names no object).
inline constexpr std::size_t kPathLimit = 1024;
// The most elements read from one array; the rest of it is passed over.
inline constexpr std::size_t kArrayElementLimit = 4096;
// Where a message's serial lies in the fixed part of its header.
inline constexpr std::size_t kSerialOffset = 8;

bool validBusName(std::string_view name);
bool validObjectPath(std::string_view path);
bool validInterfaceName(std::string_view name);
bool validMemberName(std::string_view name);

// A method call in wire format, complete but for its serial, which the link that sends it
// writes in.
struct Call {
  std::string bytes;
  // What the call asks, for counting calls by method: the member, and for a property read
  // the property (or the interface) asked for.
  std::string member;
  std::string detail;
  explicit operator bool() const { return !bytes.empty(); }
};

// Writes a method call: the header's names, then the body's arguments in order. Every
// write of a container must be closed in order; the call is then taken with finish().
class CallWriter {
 public:
  // Fails (finish() gives an empty call) when a name is not valid D-Bus syntax. An empty
  // destination is left out (a peer-to-peer connection needs none). The names are written
  // by finish(): they must last until then.
  CallWriter(std::string_view destination, std::string_view path, std::string_view interface,
             std::string_view member);

  CallWriter& boolean(bool value);
  CallWriter& int32(std::int32_t value);
  CallWriter& uint32(std::uint32_t value);
  // A string argument; fails the call when it holds a NUL.
  CallWriter& string(std::string_view value);
  // An array whose elements have the given signature (a single complete type); its
  // elements are written between open and close.
  CallWriter& openArray(std::string_view elementSignature);
  CallWriter& closeArray();
  CallWriter& openStruct();
  CallWriter& closeStruct();

  // The call, or an empty one when anything written was invalid. Never asks the bus to
  // start a service that is not running.
  Call finish();

 private:
  void align(std::size_t alignment);
  void appendType(char type);

  std::string_view destination_, path_, interface_, member_;
  std::string body_;
  std::string signature_;
  // Open arrays: where the length goes, where the elements start.
  struct OpenArray {
    std::size_t lengthAt;
    std::size_t elementsAt;
  };
  std::string openContainers_;
  std::size_t arrayDepth_ = 0;
  OpenArray arrays_[8]{};
  bool valid_ = true;
};

// A received message, read in place: valid only as long as the bytes it was parsed from.
struct ReceivedMessage {
  std::uint8_t type = 0;
  bool bigEndian = false;
  std::uint32_t replySerial = 0;  // 0 when the message answers no call
  std::string_view signature;
  std::string_view body;
  // An error given by the link itself: it closed before the reply came (a call made on an
  // application's own connection is then asked again on the bus).
  bool linkClosed = false;
};

// How many bytes the message at the start of `bytes` takes: 0 while its header is not all
// there, and nullopt when what is there cannot begin a message (the stream is broken).
std::optional<std::size_t> messageLength(std::string_view bytes);
// Reads the header of one whole message (of the length messageLength gave, at most
// kMessageSizeLimit); absent when it is malformed.
std::optional<ReceivedMessage> parseMessage(std::string_view bytes);
// Reads the header alone, from bytes that hold at least the fixed part and the header
// fields of a message (of any length messageLength allows): its body is left empty.
std::optional<ReceivedMessage> parseHeader(std::string_view bytes);
// Signature characters and values the reader has looked at on this thread so far: the
// measure of its cost, which grows with the bytes read, never faster (tests and fuzzing).
std::uint64_t readerSteps();

// Reads the arguments of a received message, one value at a time, in the order of its
// signature. Every getter checks the current value's type first and reads as absent on any
// other; a malformed value ends the reading (type() is kTypeInvalid from then on).
class ArgReader {
 public:
  explicit ArgReader(const ReceivedMessage& message);

  char type() const;
  // Moves to the next value; false at the end.
  bool next();
  std::optional<std::uint8_t> byte() const;
  std::optional<std::uint32_t> uint32() const;
  std::optional<std::int32_t> int32() const;
  std::optional<double> float64() const;
  std::optional<bool> boolean() const;
  // A string (at most `limit` bytes of it, cut before a whole character) or an object path
  // (absent when longer than kPathLimit).
  std::optional<std::string_view> string(std::size_t limit = kStringLimit) const;
  std::optional<std::string_view> signature() const;
  // False once a malformed value was met.
  bool valid() const { return valid_; }
  // The values inside the current container (array, struct, dict entry, variant), or absent
  // when the current value is not of `containerType`.
  std::optional<ArgReader> recurse(char containerType) const;

 private:
  friend std::optional<ReceivedMessage> parseHeader(std::string_view bytes);
  ArgReader(std::string_view data, bool bigEndian, std::size_t position, std::size_t end,
            std::string_view signature, bool inArray, int depth);
  // Passes over the value at `position` of the type at `typeAt` in `signature`; moves
  // `typeAt` past the type. The value's end, or absent when it is malformed.
  std::optional<std::size_t> skip(std::string_view signature, std::size_t& typeAt,
                                  std::size_t position, int depth) const;
  std::optional<std::uint32_t> read32(std::size_t position) const;
  // The type held by the variant at `at`: one whole type, whose value follows the type's
  // closing NUL. Absent when the variant is malformed or runs past the end.
  std::optional<std::string_view> variantType(std::size_t at) const;

  std::string_view data_;  // the whole body: alignment counts from its start
  bool bigEndian_ = false;
  std::size_t position_ = 0;
  std::size_t end_ = 0;         // end of the enclosing array's elements, or of the body
  // From the current value's type on, to the end of the enclosing container's (in an
  // array: from the element's type on, read again for each element).
  std::string_view signature_;
  bool inArray_ = false;
  std::size_t elements_ = 0;  // in an array: the elements passed so far
  int depth_ = 0;
  bool valid_ = false;
};

}  // namespace nevo::lin
