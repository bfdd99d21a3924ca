#include "properties.h"

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "command_bounds.h"
#include "focus/activation.h"
#include "focus/focus_request.h"
#include "focus/resolve_target.h"
#include "hostile_desktop.h"
#include "observe/observation.h"

namespace nevo::property {

using sim::Call;
using sim::Op;

std::uint64_t fixedSeed(std::string_view property) {
  std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (const char c : property) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

void reportSuccess(const std::string& property, const rc::detail::SuccessResult& success,
                   std::uint64_t seed) {
  std::cout << "[ property ] " << property << ": OK, passed " << success.numSuccess
            << " tests (seed " << seed << ")" << std::endl;
  std::vector<std::pair<int, std::string>> tags;
  for (const auto& [tag, count] : success.distribution) {
    std::string name;
    for (const std::string& part : tag) name += (name.empty() ? "" : ", ") + part;
    tags.emplace_back(count, name);
  }
  std::sort(tags.rbegin(), tags.rend());
  for (const auto& [count, name] : tags) {
    std::cout << "[ property ]   " << count * 100 / std::max(success.numSuccess, 1) << "% " << name
              << std::endl;
  }
}

std::string replyLabel(const Reply& reply) {
  static const std::map<std::string_view, std::string> reasons = {
      {kReasonNoFrontmostApplication, "no frontmost application"},
      {kReasonNoWindowInformation, "no window information"},
      {kReasonFrontWindowChanged, "front window changed"},
      {kReasonInputFocusChanged, "input focus changed"},
      {kReasonInvalidEntry, "invalid entry"},
      {kReasonApplicationChanged, "application changed"},
      {kReasonWindowChanged, "window changed"},
      {kReasonIncompleteCheck, "incomplete check"},
      {kReasonAmbiguousWindow, "ambiguous window"},
      {kReasonStateChanged, "state changed"},
      {kReasonRestoreRefused, "restore refused"},
      {kReasonSwitchFailed, "switch failed"},
      {kReasonFocusUnconfirmed, "focus unconfirmed"},
  };
  const std::string status = reply.value("status", std::string());
  if (status != kStatusUnavailable) return status;
  const auto known = reasons.find(reply.value("reason", std::string()));
  return known != reasons.end() ? known->second : "unknown reason";
}

std::string walkBudgetProblem(const sim::SimDesktop& desktop, bool focusedElementPossible) {
  const long allowance = focusedElementPossible ? 1 : 0;
  long evaluations = 0;  // every evaluation of an element reads its role
  int parents = 0;
  // The walk begins after the focused element is read; the application's own role is read
  // before that.
  bool walking = false;
  for (const Call& call : desktop.calls()) {
    if (call.reads("AXFocusedUIElement")) walking = true;
    if (walking && call.reads("AXRole")) ++evaluations;
    if (call.op == Op::readValues && call.name == "AXChildren") {
      const long visits = std::max(0L, evaluations - allowance);
      if (call.number > static_cast<double>(limit::kVisits - visits)) {
        std::ostringstream message;
        message << "asked for " << call.number << " children of node " << call.node << " after "
                << visits << " visits";
        return message.str();
      }
    }
    if (call.op == Op::hitTest) parents = 0;
    if (call.reads("AXParent") && ++parents > limit::kParentsPerHitTest) {
      return "read more than seven parents for one hit test";
    }
  }
  if (evaluations > limit::kVisits + allowance) {
    return "evaluated " + std::to_string(evaluations) + " elements";
  }
  return {};
}

std::string windowCapProblem(const sim::SimDesktop& desktop, int extra) {
  int identities = 0;
  for (const Call& call : desktop.calls()) {
    if (call.op == Op::readValues && call.name == "AXWindows") {
      if (call.number > limit::kWindowsPerApplication) {
        return "asked for " + std::to_string(call.number) + " windows of node " +
               std::to_string(call.node);
      }
      identities = 0;
    }
    if (call.reads("AXTitle") && ++identities > limit::kWindowsPerApplication + extra) {
      return "read the identities of more than " +
             std::to_string(limit::kWindowsPerApplication + extra) + " windows of one list";
    }
  }
  return {};
}

std::string protectedReadProblem(const sim::SimDesktop& desktop,
                                 const std::set<int>& protectedNodes) {
  for (const Call& call : desktop.calls()) {
    if (protectedNodes.count(call.node) == 0) continue;
    for (const char* text : {"AXTitle", "AXDescription", "AXValue"}) {
      if (call.reads(text)) {
        return std::string("asked for ") + text + " of protected node " + std::to_string(call.node);
      }
    }
  }
  return {};
}

std::string secretProblem(const Reply& reply) {
  const std::string line = reply.dump(-1, ' ', false, Reply::error_handler_t::replace);
  if (line.find(hostile::kSecretMarker) != std::string::npos) {
    return "a protected text reached the reply: " + line.substr(0, 2000);
  }
  return {};
}

namespace {

// The time at which the call at `index` had been served: when the next call was made.
std::optional<double> servedAt(const std::vector<Call>& calls, std::size_t index) {
  if (index + 1 >= calls.size()) return std::nullopt;
  return calls[index + 1].at;
}

std::string lateCall(const Call& call, double deadline, const char* what) {
  std::ostringstream message;
  message.precision(15);
  message << what << " at " << call.at << ", its deadline being " << deadline << " (node "
          << call.node << ")";
  return message.str();
}

}  // namespace

std::string observationDeadlineProblem(const sim::SimDesktop& desktop) {
  const std::vector<Call>& calls = desktop.calls();
  std::size_t i = 0;
  while (i < calls.size() && !calls[i].reads("AXFocusedUIElement")) ++i;
  const std::optional<double> base = servedAt(calls, i);
  if (!base) return {};  // the observation ended before the walk
  const double deadline = *base + test::kWalkSeconds;
  for (++i; i < calls.size(); ++i) {
    if (calls[i].reads("AXRole") && !(calls[i].at < deadline)) {
      return lateCall(calls[i], deadline, "evaluated an element");
    }
  }
  return {};
}

std::string listingDeadlineProblem(const sim::SimDesktop& desktop) {
  const std::vector<Call>& calls = desktop.calls();
  if (calls.empty()) return {};
  const double deadline = calls.front().at + test::kListingSeconds;
  for (const Call& call : calls) {
    if (call.op == Op::count && call.name == "AXWindows" && !(call.at < deadline)) {
      return lateCall(call, deadline, "started an application");
    }
    if (call.reads("AXTitle") && !(call.at < deadline)) {
      return lateCall(call, deadline, "read a window");
    }
  }
  return {};
}

std::string focusDeadlineProblem(const sim::SimDesktop& desktop) {
  const std::vector<Call>& calls = desktop.calls();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == Op::readValues && calls[i].name == "AXWindows") {
      // The records: the windows read before the focus test that follows them.
      const std::optional<double> base = servedAt(calls, i);
      if (!base) continue;
      const double deadline = *base + test::kRecordsSeconds;
      for (std::size_t k = i + 1; k < calls.size() && !calls[k].reads("AXFocusedWindow"); ++k) {
        if (calls[k].reads("AXTitle") && !(calls[k].at < deadline)) {
          return lateCall(calls[k], deadline, "read a window for the records");
        }
      }
    }
    if (calls[i].op == Op::action && calls[i].name == "AXRaise") {
      const std::optional<double> base = servedAt(calls, i);
      if (!base) continue;
      const double deadline = *base + test::kVerificationSeconds;
      for (std::size_t k = i + 1; k < calls.size(); ++k) {
        if (calls[k].reads("AXFocusedWindow") && !(calls[k].at < deadline)) {
          return lateCall(calls[k], deadline, "tested the focus");
        }
      }
    }
  }
  return {};
}

std::string inputReadProblem(const sim::SimDesktop& desktop, std::size_t inputSize) {
  std::size_t consumed = 0;
  for (const Call& call : desktop.callsOf(Op::readInput)) {
    const auto asked = static_cast<std::size_t>(call.number);
    const std::size_t allowed =
        std::min(limit::kInputChunkBytes, limit::kInputBytes + 1 - consumed);
    if (asked > allowed) {
      return "asked standard input for " + std::to_string(asked) + " bytes after " +
             std::to_string(consumed);
    }
    consumed += std::min(asked, inputSize - consumed);
  }
  return {};
}

}  // namespace nevo::property
