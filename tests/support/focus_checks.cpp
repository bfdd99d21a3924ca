#include "focus_checks.h"

#include "focus/activation.h"

namespace nevo::test {

std::string earlyChangeProblem(const sim::SimDesktop& desktop, const Reply& reply) {
  // Texts read with find(), compared as strings: GCC 12 at -O3 warns falsely inside
  // nlohmann's value() and its comparison with a string.
  const auto text = [&](const char* key) {
    const auto field = reply.find(key);
    return field != reply.end() && field->is_string() ? field->get<std::string>() : std::string();
  };
  const std::string reason = text("reason");
  const bool found = text("status") == kStatusFocused || reason == kReasonRestoreRefused ||
                     reason == kReasonSwitchFailed || reason == kReasonFocusUnconfirmed;
  const bool changed = !desktop.callsOf(sim::Op::write).empty() ||
                       !desktop.callsOf(sim::Op::activate).empty() ||
                       !desktop.callsOf(sim::Op::action).empty();
  if (!changed || found) return {};
  return "changed the screen before the window was found, then replied " +
         reply.dump(-1, ' ', false, Reply::error_handler_t::replace);
}

}  // namespace nevo::test
