// The window list on hostile desktops: one sound reply within its time bound, at most 80
// windows per application and 80 entries, only ordinary applications, only windows that
// no other window of their application can be mistaken for.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>

#include "command_bounds.h"
#include "hostile_desktop.h"
#include "platform/attributes.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "properties.h"
#include "reply_schemas.h"
#include "windows/list_windows.h"
#include "windows/window_records.h"

namespace nevo {
namespace {

using hostile::BuiltDesktop;
using hostile::DesktopPlan;
using property::checkProperty;
using property::require;

constexpr int kRuns = 200;

struct Listed {
  BuiltDesktop built;
  Reply reply;
  double spent = 0;
};

Listed listOn(const DesktopPlan& plan) {
  Listed run{hostile::build(plan), {}, 0};
  run.reply = listWindows(*run.built.desktop);
  run.spent = run.built.desktop->clock - run.built.start;
  const std::size_t entries = run.reply["windows"].size();
  RC_TAG(entries == 0                          ? "no entry"
         : entries < property::limit::kEntries ? "some entries"
                                               : "80 entries",
         run.reply.value("truncated", false) ? "truncated" : "complete");
  return run;
}

Rect rectOf(const Reply& bounds) {
  return {bounds["x"], bounds["y"], bounds["width"], bounds["height"]};
}

// What the schema cannot say about a listing: entries name their application and index
// once each, come from ordinary applications (the frontmost one first, the others by
// ascending pid), have titles and names within their limits, and no two entries of one
// application share title, frame and minimized state. Only windows of the frontmost
// application can be its focused window.
std::string entryProblem(const DesktopPlan& plan, ProcessId ownPid, const Reply& reply) {
  if (reply["status"] != kStatusAvailable) return {};
  const bool hasFrontmost =
      plan.frontmost >= 0 && static_cast<std::size_t>(plan.frontmost) < plan.apps.size();
  const ProcessId frontmostPid =
      hasFrontmost ? plan.apps[static_cast<std::size_t>(plan.frontmost)].pid : 0;
  const auto isFrontmost = [&](ProcessId pid) { return hasFrontmost && pid == frontmostPid; };
  std::set<ProcessId> pids;
  for (const hostile::AppPlan& a : plan.apps) pids.insert(a.pid);
  const bool distinctPids = pids.size() == plan.apps.size();
  std::set<std::string> ids;
  std::optional<ProcessId> previous;
  const Reply& entries = reply["windows"];
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Reply& entry = entries[i];
    const ProcessId pid = entry["pid"];
    const std::string id = entry["id"];
    if (id.rfind(std::to_string(pid) + ":", 0) != 0) return "entry " + id + " names another pid";
    // (A workspace that reports two applications under one pid leaves the ids no way to
    // tell their windows apart.)
    if (!ids.insert(id).second && distinctPids) return "two entries have the id " + id;
    const bool ordinary =
        pid != ownPid &&
        std::any_of(plan.apps.begin(), plan.apps.end(), [&](const hostile::AppPlan& a) {
          return a.pid == pid && a.policy == kActivationPolicyRegular && !a.terminated;
        });
    if (!ordinary) return "entry " + id + " belongs to no ordinary application";
    if (longerThan(entry["appName"].get<std::string>(),
                   property::limit::kApplicationNameCharacters)) {
      return "the appName of " + id + " is longer than 300 characters";
    }
    if (longerThan(entry["title"].get<std::string>(), property::limit::kTitleCharacters)) {
      return "the title of " + id + " is longer than 4096 characters";
    }
    if (entry["isFrontmost"] == true && !isFrontmost(pid)) {
      return "entry " + id + " is frontmost but its application is not";
    }
    const bool front = isFrontmost(pid);
    if (previous && *previous != pid) {
      const bool previousFront = isFrontmost(*previous);
      if (front || (!previousFront && pid < *previous)) return "entry " + id + " is out of order";
    }
    previous = pid;
    if (!distinctPids) continue;
    const WindowIdentity identity(entry["title"], rectOf(entry["bounds"]), entry["isMinimized"]);
    for (std::size_t j = 0; j < i; ++j) {
      const Reply& other = entries[j];
      if (other["pid"] == entry["pid"] && WindowIdentity(other["title"], rectOf(other["bounds"]),
                                                         other["isMinimized"]) == identity) {
        return "entries " + other["id"].get<std::string>() + " and " + id + " cannot be told apart";
      }
    }
  }
  return {};
}

TEST(WindowListProperties, GivesOneSoundReply) {
  checkProperty(kRuns, [] {
    const DesktopPlan plan = *hostile::hostileDesktop();
    const Listed run = listOn(plan);
    require(test::replyProblem(run.reply, test::ReplyKind::windows));
    require(entryProblem(plan, run.built.desktop->ownPid, run.reply));
    if (!plan.trusted) {
      RC_ASSERT(run.reply["status"] == kStatusDenied);
      RC_ASSERT(run.built.desktop->calls().size() == 1u);
    }
  });
}

TEST(WindowListProperties, EndsWithinItsTimeBound) {
  checkProperty(kRuns, [] {
    const Listed run = listOn(*hostile::hostileDesktop());
    require(test::overrunProblem(run.spent, test::windowListBound()));
    require(property::listingDeadlineProblem(*run.built.desktop));
    RC_TAG(run.spent >= test::kListingSeconds ? "past the deadline" : "in time");
  });
}

TEST(WindowListProperties, KeepsItsCaps) {
  checkProperty(kRuns, [] {
    const Listed run = listOn(*hostile::hostileDesktop());
    RC_ASSERT(run.reply["windows"].size() <= property::limit::kEntries);
    require(property::windowCapProblem(*run.built.desktop, 0));
  });
}

TEST(WindowListProperties, NeverReadsOrReportsAProtectedText) {
  checkProperty(kRuns, [] {
    const Listed run = listOn(*hostile::hostileDesktop());
    require(property::protectedReadProblem(*run.built.desktop, run.built.protectedNodes));
    require(property::secretProblem(run.reply));
  });
}

}  // namespace
}  // namespace nevo
