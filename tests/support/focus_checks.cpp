#include "focus_checks.h"

#include "focus/activation.h"

namespace nevo::test {

std::string earlyChangeProblem(const sim::SimDesktop& desktop, const Reply& reply) {
  const std::string reason = reply.value("reason", std::string());
  const bool found = reply["status"] == kStatusFocused || reason == kReasonRestoreRefused ||
                     reason == kReasonSwitchFailed || reason == kReasonFocusUnconfirmed;
  const bool changed = !desktop.callsOf(sim::Op::write).empty() ||
                       !desktop.callsOf(sim::Op::activate).empty() ||
                       !desktop.callsOf(sim::Op::action).empty();
  if (!changed || found) return {};
  return "changed the screen before the window was found, then replied " +
         reply.dump(-1, ' ', false, Reply::error_handler_t::replace);
}

}  // namespace nevo::test
