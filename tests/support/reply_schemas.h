// The reply schemas of docs/schema and the checks that every reply of the tool must pass:
// it is written as one line of JSON that reads back to the same values, and it matches
// the schema of the command that gave it. Free of GoogleTest, so that the property tests
// and the fuzz targets can use it as well as the command tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "reply/reply.h"

namespace nevo::test {

// The four reply schemas: one per command, and the unsupported-command reply.
enum class ReplyKind { observation, windows, focus, unsupported };

const char* replyKindName(ReplyKind kind);

// The schema that a reply of this shape is meant to follow: "elements" makes it an
// observation reply, "windows" a window list reply, the unsupported-command sentence the
// unsupported-command reply, and anything else a focus reply.
ReplyKind presumedKind(const Reply& reply);

// What is wrong with `reply` under the schema of `kind`, one line per violation; empty
// when it matches.
std::vector<std::string> schemaViolations(const Reply& reply, ReplyKind kind);

// Whether two JSON values are the same: numbers compare by value (integers with integers,
// and floating-point numbers bit for bit, so that -0.0 differs from 0.0), everything else
// by kind and content.
bool sameJson(const Reply& a, const Reply& b);

// What is wrong with the line the tool would write for `reply`: that it cannot be written,
// spans more than one line, does not read back to the same values, or is not written in
// its one canonical form (compact, keys sorted). Empty when it is sound.
std::string lineProblem(const Reply& reply);

// The line checks and the schema of `kind` (of `presumedKind` when none is given). Empty
// when the reply is one the tool may give.
std::string replyProblem(const Reply& reply, std::optional<ReplyKind> kind = std::nullopt);

}  // namespace nevo::test
