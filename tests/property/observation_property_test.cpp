// The observation on hostile desktops: whatever the applications hand out, one sound
// reply, within its time bound and budgets, and never a protected text.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "command_bounds.h"
#include "hostile_desktop.h"
#include "observe/observation.h"
#include "platform/text.h"
#include "properties.h"
#include "reply_schemas.h"

namespace nevo {
namespace {

using hostile::BuiltDesktop;
using hostile::DesktopPlan;
using property::checkProperty;
using property::require;

constexpr int kRuns = 200;

struct Observed {
  BuiltDesktop built;
  Reply reply;
  double spent = 0;
};

Observed observeOn(const DesktopPlan& plan) {
  Observed run{hostile::build(plan), {}, 0};
  run.reply = observe(*run.built.desktop);
  run.spent = run.built.desktop->clock - run.built.start;
  RC_TAG(property::replyLabel(run.reply),
         run.reply.value("truncated", false) ? "truncated" : "complete");
  return run;
}

// What the schema cannot say about a success reply: ids name the observed application
// and are unique, the focused element has at most one record, texts are cut to 300
// user-perceived characters.
std::string recordProblem(const Reply& reply) {
  if (reply["status"] != kStatusAvailable) return {};
  const std::string prefix = std::to_string(reply["app"]["pid"].get<long>()) + ":";
  std::set<std::string> ids;
  for (const Reply& record : reply["elements"]) {
    const std::string id = record["id"];
    if (id.rfind(prefix, 0) != 0) return "record " + id + " does not name the application";
    if (!ids.insert(id).second) return "two records have the id " + id;
    for (const char* key : {"role", "name", "value", "identifier"}) {
      if (longerThan(record[key].get<std::string>(), property::limit::kTextCharacters)) {
        return std::string("the ") + key + " of record " + id + " is longer than 300 characters";
      }
    }
  }
  if (longerThan(reply["window"]["title"].get<std::string>(), property::limit::kTextCharacters)) {
    return "the window title is longer than 300 characters";
  }
  return {};
}

TEST(ObservationProperties, GivesOneSoundReply) {
  checkProperty(kRuns, [] {
    const DesktopPlan plan = *hostile::hostileDesktop();
    const Observed run = observeOn(plan);
    require(test::replyProblem(run.reply, test::ReplyKind::observation));
    require(recordProblem(run.reply));
    if (!plan.trusted) {
      RC_ASSERT(run.reply["status"] == kStatusDenied);
      RC_ASSERT(run.built.desktop->calls().size() == 1u);  // the trust question, nothing else
    }
  });
}

TEST(ObservationProperties, EndsWithinItsTimeBound) {
  checkProperty(kRuns, [] {
    const Observed run = observeOn(*hostile::hostileDesktop());
    require(test::overrunProblem(run.spent, test::observationBound()));
    require(property::observationDeadlineProblem(*run.built.desktop));
    RC_TAG(run.spent >= test::kWalkSeconds ? "past the walk's deadline" : "in time");
  });
}

TEST(ObservationProperties, KeepsItsBudgets) {
  checkProperty(kRuns, [] {
    const Observed run = observeOn(*hostile::hostileDesktop());
    const std::size_t records = run.reply["elements"].size();
    RC_ASSERT(records <= property::limit::kRecords);
    require(property::walkBudgetProblem(*run.built.desktop, run.built.focusedElementPossible));
    const std::size_t copies = run.built.desktop->callsOf(sim::Op::readValues).size();
    RC_TAG(records == property::limit::kRecords ? "records: all 160"
           : records > 0                        ? "records: some"
                                                : "records: none",
           copies > 100 ? "children copied: over 100 times" : "children copied: fewer");
  });
}

TEST(ObservationProperties, NeverReadsOrReportsAProtectedText) {
  checkProperty(kRuns, [] {
    const Observed run = observeOn(*hostile::hostileDesktop());
    require(property::protectedReadProblem(*run.built.desktop, run.built.protectedNodes));
    require(property::secretProblem(run.reply));
  });
}

}  // namespace
}  // namespace nevo
