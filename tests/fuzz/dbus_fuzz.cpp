// Reading D-Bus messages from another process: the bytes are a stream as a peer would send
// it, cut into messages and read in full (every argument, at every depth, with every getter)
// and by every reply reader of the accessibility calls. Whatever the bytes, nothing is read
// outside them (the sanitizers watch), every view a message hands out lies inside its
// message, and the stream either yields a message, asks for more, or is refused. Aborts
// otherwise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/dbus_wire.h"

namespace nevo::fuzz {
namespace {

using lin::ArgReader;
using lin::ReceivedMessage;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "\n%s\n", what);
  std::abort();
}

void expectInside(std::string_view part, std::string_view whole, const char* what) {
  if (part.empty()) return;
  if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size()) {
    fail(what);
  }
}

// Reads every value below `reader` with every getter, containers included.
void readAll(ArgReader reader, std::string_view message, int depth) {
  if (depth > 80) fail("containers nest deeper than any valid message allows");
  for (int values = 0; reader.type() != lin::kTypeInvalid; ++values) {
    if (values > 1 << 20) fail("more values than the message has bytes");
    (void)reader.byte();
    (void)reader.uint32();
    (void)reader.int32();
    (void)reader.float64();
    (void)reader.boolean();
    if (const auto text = reader.string()) expectInside(*text, message, "a string outside");
    if (const auto signature = reader.signature()) {
      expectInside(*signature, message, "a signature outside its message");
    }
    for (const char container :
         {lin::kTypeArray, lin::kTypeStruct, lin::kTypeVariant, lin::kTypeDictEntry}) {
      if (const auto inner = reader.recurse(container)) readAll(*inner, message, depth + 1);
    }
    if (!reader.next()) break;
  }
}

// The reader's cost per byte: what the reply readers and the header parser look at grows
// with the bytes, by a few steps each; a reading that descends into every level passes
// over each value once per level, up to the protocol's 64.
constexpr std::uint64_t kStepsPerByte = 16;
constexpr std::uint64_t kNestingLevels = 64;
constexpr std::size_t kReadAllLimit = 64 * 1024;

void readMessage(std::string_view bytes) {
  const std::uint64_t start = lin::readerSteps();
  const std::optional<ReceivedMessage> message = lin::parseMessage(bytes);
  if (!message) {
    if (lin::readerSteps() - start > kStepsPerByte * (bytes.size() + 16)) {
      fail("refusing a message cost more than its bytes");
    }
    return;
  }
  expectInside(message->signature, bytes, "the signature lies outside its message");
  expectInside(message->body, bytes, "the body lies outside its message");
  (void)lin::isError(*message);
  (void)lin::uint32Reply(*message);
  (void)lin::stringReply(*message);
  (void)lin::stateReply(*message);
  (void)lin::extentsReply(*message);
  (void)lin::referenceReply(*message);
  if (const auto references = lin::referencesReply(*message, 500)) {
    if (references->size() > 500) fail("more references than asked for");
  }
  (void)lin::variantStringReply(*message);
  (void)lin::variantInt32Reply(*message);
  (void)lin::variantDoubleReply(*message);
  (void)lin::variantReferenceReply(*message);
  (void)lin::variantBooleanReply(*message);
  (void)lin::stringsReply(*message, 64);
  if (lin::readerSteps() - start > kStepsPerByte * (bytes.size() + 16)) {
    fail("reading a message cost more than its bytes");
  }
  // Every value at every level, for messages up to a size whose walk stays well inside the
  // time-out however deep it nests (a larger one is read as the reply readers read it).
  if (bytes.size() > kReadAllLimit) return;
  const std::uint64_t descending = lin::readerSteps();
  readAll(ArgReader(*message), bytes, 0);
  if (lin::readerSteps() - descending > kNestingLevels * kStepsPerByte * (bytes.size() + 16)) {
    fail("reading every value cost more than its bytes at every level");
  }
}

}  // namespace
}  // namespace nevo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The stream exactly as received: a copy of just these bytes, without a terminating NUL,
  // so that a read past them is a read past the allocation.
  const std::unique_ptr<char[]> stream(new char[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(stream.get(), data, size);
  std::string_view rest(stream.get(), size);
  while (!rest.empty()) {
    const std::optional<std::size_t> length = nevo::lin::messageLength(rest);
    if (!length || *length == 0 || *length > rest.size()) break;  // broken, or wants more
    nevo::fuzz::readMessage(rest.substr(0, *length));
    rest.remove_prefix(*length);
  }
  return 0;
}
