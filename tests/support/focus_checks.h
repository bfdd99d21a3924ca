// What a --focus run must not do, read off the simulated desktop's call log. Free of
// GoogleTest, so that the property tests and the fuzz target share it.
#pragma once

#include <string>

#include "reply/reply.h"
#include "sim_desktop.h"

namespace nevo::test {

// Until the window is found, nothing on screen changes: no write (restore), no activation
// and no action (raise) unless the reply says the window was found ("focused", or the
// restore refused, the switch failed or the focus unconfirmed). Empty when sound.
std::string earlyChangeProblem(const sim::SimDesktop& desktop, const Reply& reply);

}  // namespace nevo::test
