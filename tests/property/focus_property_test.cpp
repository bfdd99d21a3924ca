// The focus command on hostile desktops, fed entries that a listing gave, entries bent out
// of shape and bytes that are no entry at all: one sound reply within its time bound,
// nothing changed on screen unless the window was found, and every window that a listing
// names on a calm desktop can be focused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_bounds.h"
#include "focus/activation.h"
#include "focus/focus_request.h"
#include "focus/focus_window.h"
#include "focus_checks.h"
#include "hostile_desktop.h"
#include "properties.h"
#include "reply/emit.h"
#include "reply_schemas.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

namespace gen = rc::gen;
using hostile::BuiltDesktop;
using hostile::DesktopPlan;
using property::checkProperty;
using property::require;
using sim::Op;

constexpr int kRuns = 200;

std::string line(const Reply& value) {
  return serializeReply(value).value_or("");
}

// A JSON value of any kind, numbers at the edges of double among them, as its text (so
// that RapidCheck shows it as it is).
rc::Gen<std::string> anyJson() {
  const auto text = [](const Reply& value) { return line(value); };
  return gen::weightedOneOf<std::string>({
      {3, gen::map(hostile::hostileText(), [=](std::string s) { return text(Reply(s)); })},
      {3, gen::map(hostile::hostileNumber(),
                   [=](double d) { return std::isfinite(d) ? text(Reply(d)) : "null"; })},
      {2, gen::map(gen::element<std::int64_t>(0, -1, 1, 321, 2147483647, 2147483648LL,
                                              -2147483648LL, 9007199254740993LL),
                   [=](std::int64_t n) { return text(Reply(n)); })},
      {1, gen::element<std::string>("true", "false", "null", "[]", "{}", "[1]", "{\"x\":1}")},
  });
}

// One of `values`, drawn by its position (RapidCheck then shows the position).
const Reply& oneOf(const Reply& values) {
  return values[*gen::inRange<std::size_t>(0, values.size())];
}

// Text edits no JSON writer would make.
std::string bend(std::string text, int how, std::size_t at) {
  at = text.empty() ? 0 : at % text.size();
  switch (how) {
    case 0:
      return text.substr(0, at);  // cut short
    case 1:
      return text.insert(at, std::string("\0", 1));
    case 2:
      return text + std::string(property::limit::kInputBytes > text.size()
                                    ? property::limit::kInputBytes - text.size()
                                    : 0,
                                ' ');
    case 3:
      return text + std::string(property::limit::kInputBytes + 1 > text.size()
                                    ? property::limit::kInputBytes + 1 - text.size()
                                    : 0,
                                ' ');
    case 4:
      return "\xEF\xBB\xBF" + text;  // a byte-order mark
    case 5:
      return text + "\n";
    case 6:
      return text.empty() ? text : "{\"pid\":1," + text.substr(1);  // a duplicate key
    case 7:
      return "[" + text + "]";
    case 8:
      return text.insert(at, "\xC3");  // invalid UTF-8
    default:
      return text + text;
  }
}

// Raw numbers that no double holds exactly, or none at all.
std::string rawNumberEntry(const Reply& entry, const std::string& key) {
  std::string text = line(entry);
  const std::string needle = "\"" + key + "\":";
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return text;
  std::size_t end = text.find_first_of(",}", at + needle.size());
  if (end == std::string::npos) return text;
  const std::string raw = *gen::element<std::string>(
      "1e309", "-1e309", "-0", "4.9e-324", "2.4703282292062327e-324", "1.7976931348623157e308",
      "2147483648", "321.0", "3.21e2", "0.0000001e7", "123456789012345678901234567890");
  return text.replace(at + needle.size(), end - at - needle.size(), raw);
}

// What --focus gets on standard input: an entry as listed, an entry bent out of shape, or
// bytes that are no entry.
std::string focusInput(const Reply& entries) {
  const int kind = entries.empty() ? 2 : *gen::weightedElement<int>({{5, 0}, {4, 1}, {2, 2}});
  if (kind == 2) {
    return *gen::weightedOneOf<std::string>({
        {3, hostile::hostileText()},
        {2, anyJson()},
        {1, gen::container<std::string>(gen::arbitrary<char>())},
        {1, gen::elementOf(std::vector<std::string>{
                "", "null", "{}", "[]", "{\"id\":", "{\"a\":1}", std::string(40000, '{'),
                std::string(40000, '['), "{\"id\":\"\\ud800\"}", "{\"id\":\"\\u0000\"}"})},
    });
  }
  Reply entry = oneOf(entries);
  if (kind == 0) return line(entry);
  const int mutation = *gen::element(0, 1, 2, 3, 4);
  static const std::vector<std::string> keys = {"id",     "pid",         "appName",    "title",
                                                "bounds", "isMinimized", "isFrontmost"};
  static const std::vector<std::string> frame = {"x", "y", "width", "height"};
  switch (mutation) {
    case 0:
      entry[*gen::elementOf(keys)] = Reply::parse(*anyJson());
      return line(entry);
    case 1:
      entry["bounds"][*gen::elementOf(frame)] = Reply::parse(*anyJson());
      return line(entry);
    case 2:
      entry.erase(*gen::elementOf(keys));
      return line(entry);
    case 3:
      return rawNumberEntry(entry, *gen::element<std::string>("pid", "x", "y", "width", "height"));
    default:
      return bend(line(entry), *gen::element(0, 1, 2, 3, 4, 5, 6, 7, 8, 9),
                  *gen::inRange<std::size_t>(0, 10000));
  }
}

struct Focused {
  BuiltDesktop built;
  std::string input;
  Reply reply;
  double spent = 0;
};

Focused focusOn(const DesktopPlan& plan) {
  // The entries come from a listing of the same desktop while it was calm.
  BuiltDesktop listed = hostile::build(hostile::calm(plan));
  const Reply listing = listWindows(*listed.desktop);
  Focused run{hostile::build(plan), focusInput(listing["windows"]), {}, 0};
  run.built.desktop->standardInput = run.input;
  run.reply = focusWindow(*run.built.desktop);
  run.spent = run.built.desktop->clock - run.built.start;
  RC_TAG(property::replyLabel(run.reply));
  return run;
}

TEST(FocusProperties, GivesOneSoundReply) {
  checkProperty(kRuns, [] {
    const DesktopPlan plan = *hostile::hostileDesktop();
    const Focused run = focusOn(plan);
    require(test::replyProblem(run.reply, test::ReplyKind::focus));
    if (!plan.trusted) {
      RC_ASSERT(run.reply["status"] == kStatusDenied);
      RC_ASSERT(run.built.desktop->calls().size() == 1u);  // standard input left unread
    }
  });
}

TEST(FocusProperties, EndsWithinItsTimeBound) {
  checkProperty(kRuns, [] {
    const Focused run = focusOn(*hostile::hostileDesktop());
    require(test::overrunProblem(run.spent, test::focusBound()));
    require(property::focusDeadlineProblem(*run.built.desktop));
  });
}

TEST(FocusProperties, KeepsItsCaps) {
  checkProperty(kRuns, [] {
    const Focused run = focusOn(*hostile::hostileDesktop());
    // The records of the window list, then the target's own state once more.
    require(property::windowCapProblem(*run.built.desktop, 1));
    require(property::inputReadProblem(*run.built.desktop, run.input.size()));
  });
}

// Until the window is found, nothing on screen changes: no restore, no activation, no
// raise. A "focused" reply comes only after the activation and the raise.
TEST(FocusProperties, ChangesNothingUntilTheWindowIsFound) {
  checkProperty(kRuns, [] {
    const Focused run = focusOn(*hostile::hostileDesktop());
    const sim::SimDesktop& desktop = *run.built.desktop;
    require(test::earlyChangeProblem(desktop, run.reply));
    if (run.reply.value("reason", std::string()) == kReasonRestoreRefused) {
      RC_ASSERT(desktop.callsOf(Op::activate).empty());
      RC_ASSERT(desktop.callsOf(Op::action).empty());
    }
    if (run.reply["status"] == kStatusFocused) {
      RC_ASSERT(desktop.callsOf(Op::activate).size() == 1u);
      RC_ASSERT(desktop.callsOf(Op::activate)[0].second == kActivateIgnoringOtherApps);
      RC_ASSERT(desktop.callsOf(Op::action).size() == 1u);
      RC_ASSERT(desktop.callsOf(Op::action)[0].name == "AXRaise");
    }
  });
}

TEST(FocusProperties, NeverReadsOrReportsAProtectedText) {
  checkProperty(kRuns, [] {
    const Focused run = focusOn(*hostile::hostileDesktop());
    require(property::protectedReadProblem(*run.built.desktop, run.built.protectedNodes));
    require(property::secretProblem(run.reply));
  });
}

// On a calm desktop every listed window can be focused with its entry as written, as long
// as the entry fits the input limit.
TEST(FocusProperties, FocusesEveryWindowACalmListingNames) {
  checkProperty(kRuns, [] {
    const DesktopPlan plan = hostile::calm(*hostile::hostileDesktop());
    BuiltDesktop listed = hostile::build(plan);
    const Reply entries = listWindows(*listed.desktop)["windows"];
    RC_PRE(!entries.empty());
    const Reply entry = oneOf(entries);
    BuiltDesktop target = hostile::build(plan);
    target.desktop->standardInput = line(entry);
    const Reply reply = focusWindow(*target.desktop);
    const bool fits = target.desktop->standardInput.size() <= property::limit::kInputBytes;
    RC_TAG(fits ? "entry fits" : "entry too long");
    const Reply expected =
        fits ? Reply{{"status", kStatusFocused}} : unavailableReply(kReasonInvalidEntry);
    if (reply != expected) {
      RC_FAIL("entry " + line(entry).substr(0, 600) + " got " + line(reply));
    }
  });
}

}  // namespace
}  // namespace nevo
