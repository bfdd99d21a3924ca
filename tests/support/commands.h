// The commands as the command tests run them: on the platform under test bound to a
// simulated desktop, with every reply checked against the reply schemas.
//
// The platform under test is the simulated desktop itself, or, in a build that checks a
// backend over fakes of its system interfaces, that backend bound to the desktop. The
// same test sources are compiled for each, so every command test runs on each.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "reply/reply.h"
#include "sim_desktop.h"

namespace nevo::test {

// The platform that the command tests run on for `desktop`.
Platform& platformUnderTest(sim::SimDesktop& desktop);

// Adds a test failure when `reply` is not a reply the tool may give.
void checkReply(const Reply& reply);

Reply observeOn(sim::SimDesktop& desktop);
Reply listWindowsOn(sim::SimDesktop& desktop);
Reply focusWindowOn(sim::SimDesktop& desktop);
// The reply of the command that `arguments` (without the program name) name.
Reply runCommandOn(const std::vector<std::string>& arguments, sim::SimDesktop& desktop);

}  // namespace nevo::test
