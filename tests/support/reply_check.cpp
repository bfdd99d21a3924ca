#include <gtest/gtest.h>

#include "commands.h"
#include "reply_schemas.h"

namespace nevo::test {

void checkReply(const Reply& reply) {
  const std::string problem = replyProblem(reply);
  if (!problem.empty()) ADD_FAILURE() << problem;
}

}  // namespace nevo::test
