// Argument lists: only none, exactly "--windows" and exactly "--focus" name a command;
// every other list gets the unsupported-command reply at once, trusted or not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
#include "hostile_desktop.h"
#include "properties.h"
#include "reply_schemas.h"

namespace nevo {
namespace {

namespace gen = rc::gen;
using property::checkProperty;
using property::require;

// Arguments near the command words, and anything else.
rc::Gen<std::string> argument() {
  return gen::weightedOneOf<std::string>({
      {3, gen::element<std::string>("--windows", "--focus", "--Windows", "--FOCUS", "windows",
                                    "-windows", "--windows ", " --focus", "--focus\n", "",
                                    "--window", "--windowss", "--", "-", "--focus=1",
                                    std::string("--focus\0", 8))},
      {1, hostile::hostileText()},
  });
}

TEST(DispatchProperties, AnswersAnyOtherArgumentListAsUnsupported) {
  checkProperty(300, [] {
    const auto arguments = *gen::container<std::vector<std::string>>(argument());
    sim::SimDesktop desktop;
    desktop.trusted = *gen::arbitrary<bool>();
    desktop.addApp(812, "Notes").addWindow("Untitled", {0, 0, 800, 600});
    desktop.setFrontmost(812);
    const Reply reply = runCommand(arguments, desktop);
    const bool command =
        arguments.empty() ||
        (arguments.size() == 1 && (arguments[0] == "--windows" || arguments[0] == "--focus"));
    RC_TAG(command ? "a command" : "unsupported");
    if (command) {
      const test::ReplyKind kind = arguments.empty()             ? test::ReplyKind::observation
                                   : arguments[0] == "--windows" ? test::ReplyKind::windows
                                                                 : test::ReplyKind::focus;
      require(test::replyProblem(reply, kind));
    } else {
      RC_ASSERT(reply == unavailableReply(kReasonUnsupportedCommand));
      require(test::replyProblem(reply, test::ReplyKind::unsupported));
      RC_ASSERT(desktop.calls().empty());
    }
  });
}

}  // namespace
}  // namespace nevo
