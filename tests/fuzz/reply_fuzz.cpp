// Writing replies: a reply built from the bytes (strings of any bytes, numbers of any bit
// pattern, nested arrays and objects) is written by emit as exactly one line of JSON that
// reads back to the same values in its canonical form, or, when it holds a non-finite
// number or a string that is not UTF-8, not at all. Aborts otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "byte_reader.h"
#include "reply/emit.h"
#include "reply_schemas.h"

namespace nevo::fuzz {
namespace {

int captured = -1;         // the read end of the pipe that standard output now writes to
std::size_t capacity = 0;  // how much that pipe holds

[[noreturn]] void fail(const std::string& what, const Reply& reply) {
  std::fprintf(stderr, "\n%s\n  reply: %.2000s\n", what.c_str(),
               reply.dump(-1, ' ', true, Reply::error_handler_t::replace).c_str());
  std::abort();
}

Reply object(ByteReader& in, int depth);

Reply value(ByteReader& in, int depth) {
  const int kinds = depth >= 6 ? 6 : 8;
  switch (in.byte() % kinds) {
    case 0:
      return in.text(in.byte() % 8 == 0);
    case 1:
      return in.bits();
    case 2:
      return in.integer<std::int64_t>();
    case 3:
      return in.integer<std::uint64_t>();
    case 4:
      return in.byte() % 2 == 0;
    case 5:
      return in.integer<std::int32_t>() / 16.0;  // coordinates as they come
    case 6: {
      Reply array = Reply::array();
      for (int n = in.byte() % 6; n > 0; --n) array.push_back(value(in, depth + 1));
      return array;
    }
    default:
      return object(in, depth + 1);
  }
}

Reply object(ByteReader& in, int depth) {
  Reply result = Reply::object();
  for (int n = in.byte() % 6; n > 0 && !in.empty(); --n) {
    const std::string key = in.text();
    result[key] = value(in, depth);  // a repeated key keeps its last value
  }
  return result;
}

// Whether the writer can take the value: every number finite, every string and key
// well-formed UTF-8.
bool writable(const Reply& v) {
  if (v.is_number_float()) return std::isfinite(v.get<double>());
  if (v.is_string()) return wellFormedUtf8(v.get_ref<const std::string&>());
  if (v.is_array()) return std::all_of(v.begin(), v.end(), writable);
  if (v.is_object()) {
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (!wellFormedUtf8(it.key()) || !writable(*it)) return false;
    }
  }
  return true;
}

std::string drain() {
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::read(captured, buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace
}  // namespace nevo::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // emit writes to standard output: point it at a pipe that the target reads back.
  int ends[2];
  if (::pipe(ends) != 0) std::abort();
  ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
#ifdef F_GETPIPE_SZ
  // Linux lets a pipe grow, so that emit can be checked on long lines too.
  ::fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
  const int capacity = ::fcntl(ends[0], F_GETPIPE_SZ);
#else
  // Elsewhere a pipe is taken to hold 16 KiB, what macOS and the BSDs give one.
  const int capacity = 16 * 1024;
#endif
  if (capacity <= 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) std::abort();
  nevo::fuzz::captured = ends[0];
  nevo::fuzz::capacity = static_cast<std::size_t>(capacity);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nevo;
  using namespace nevo::fuzz;
  ByteReader in(data, size);
  const Reply reply = object(in, 0);
  const bool canWrite = writable(reply);

  const std::optional<std::string> line = serializeReply(reply);
  if (line.has_value() != canWrite) {
    fail(canWrite ? "a writable reply was not written" : "an unwritable reply was written", reply);
  }
  if (line) {
    if (const std::string problem = test::lineProblem(reply); !problem.empty()) {
      fail(problem, reply);
    }
    for (const char c : *line) {
      if (static_cast<unsigned char>(c) < 0x20) fail("a control character in the line", reply);
    }
  }
  // emit itself: exactly the line and a line feed, or nothing (when the pipe can hold it:
  // nobody reads it while emit writes).
  if (!line || line->size() < capacity) {
    emit(reply);
    const std::string written = drain();
    if (written != (line ? *line + "\n" : std::string())) fail("emit wrote " + written, reply);
  }
  return 0;
}
