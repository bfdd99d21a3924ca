#include "commands.h"

namespace nevo::test {

void checkReply(const Reply&) {}

}  // namespace nevo::test
