// The command tests on the simulated desktop itself.
#include "commands.h"

namespace nevo::test {

Platform& platformUnderTest(sim::SimDesktop& desktop) {
  return desktop;
}

}  // namespace nevo::test
