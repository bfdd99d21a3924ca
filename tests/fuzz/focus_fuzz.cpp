// The whole --focus command, fed standard-input bytes, on a small simulated desktop whose
// windows the entries can name. Aborts (so that libFuzzer keeps the input) when the reply
// is not one line of valid JSON matching the focus reply schema, when the command takes
// longer than its bound, when it changes the screen before the window is found, or when
// an entry as listed, however it is spelt, gets another reply than the listed entry.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_bounds.h"
#include "focus/focus_request.h"
#include "focus/focus_window.h"
#include "focus_checks.h"
#include "fuzz_desktop.h"
#include "reply/emit.h"
#include "reply_schemas.h"
#include "windows/list_windows.h"

namespace nevo::fuzz {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& input, const Reply& reply) {
  std::fprintf(stderr, "\n%s\n  input (%zu bytes): %.400s\n  reply: %s\n", what.c_str(),
               input.size(), input.c_str(),
               reply.dump(-1, ' ', false, Reply::error_handler_t::replace).c_str());
  std::abort();
}

// The entries a listing of the fuzz desktop gives, and what --focus answers to each.
struct Listed {
  std::vector<Reply> entries;
  std::vector<Reply> replies;
};

const Listed& listed() {
  static const Listed result = [] {
    Listed l;
    const Reply listing = listWindows(*makeFuzzDesktop());
    for (const Reply& entry : listing["windows"]) {
      auto desktop = makeFuzzDesktop();
      desktop->standardInput = serializeReply(entry).value_or("");
      l.entries.push_back(entry);
      l.replies.push_back(focusWindow(*desktop));
    }
    return l;
  }();
  return result;
}

bool sameNumber(const Reply& a, const Reply& b) {
  return a.is_number() && b.is_number() && a.get<double>() == b.get<double>();
}

// Whether a parsed input says what `entry` says: the same strings, the same numbers
// (whatever their spelling), the same booleans; further members are ignored.
bool sameEntry(const Reply& input, const Reply& entry) {
  if (!input.is_object()) return false;
  for (const char* key : {"id", "appName", "title", "isMinimized", "isFrontmost"}) {
    if (!input.contains(key) || input[key] != entry[key]) return false;
  }
  if (!input.contains("pid") || !sameNumber(input["pid"], entry["pid"])) return false;
  const auto bounds = input.find("bounds");
  if (bounds == input.end() || !bounds->is_object()) return false;
  for (const char* key : {"x", "y", "width", "height"}) {
    if (!bounds->contains(key) || !sameNumber((*bounds)[key], entry["bounds"][key])) return false;
  }
  return true;
}

}  // namespace
}  // namespace nevo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace nevo;
  using namespace nevo::fuzz;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const Listed& expected = listed();

  auto desktop = makeFuzzDesktop();
  desktop->standardInput = input;
  const double start = desktop->clock;
  const Reply reply = focusWindow(*desktop);

  if (const std::string problem = test::replyProblem(reply, test::ReplyKind::focus);
      !problem.empty()) {
    fail(problem, input, reply);
  }
  if (const std::string problem = test::overrunProblem(desktop->clock - start, test::focusBound());
      !problem.empty()) {
    fail(problem, input, reply);
  }
  if (const std::string problem = test::earlyChangeProblem(*desktop, reply); !problem.empty()) {
    fail(problem, input, reply);
  }

  if (size <= kInputLimit && input.find('\0') == std::string::npos) {
    const Reply parsed = Reply::parse(input, nullptr, /*allow_exceptions=*/false);
    for (std::size_t i = 0; i < expected.entries.size(); ++i) {
      if (sameEntry(parsed, expected.entries[i]) && reply != expected.replies[i]) {
        fail("a listed entry got " + expected.replies[i].dump() + " as listed", input, reply);
      }
    }
  }
  return 0;
}
