// Writing a reply: one compact JSON object with sorted keys on one line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "reply/reply.h"

namespace nevo {

// The reply as the text of its line (without the line feed): compact, keys sorted at
// every level, UTF-8 with non-ASCII characters as they are, a solidus written as "\/",
// numbers that read back to the same double. Absent when the reply cannot be written:
// it holds a non-finite number or a string that is not valid UTF-8.
std::optional<std::string> serializeReply(const Reply& reply);

// Writes all of `bytes` to `fd`: short and interrupted writes are resumed, and a
// descriptor set non-blocking is waited on until it is ready again. Only an error that
// cannot be retried (the reader went away) ends it early; returns whether all was written.
bool writeAll(int fd, std::string_view bytes);

// Writes the reply's line and a line feed to standard output, or nothing at all when it
// cannot be serialised. The only writer of standard output.
void emit(const Reply& reply);

}  // namespace nevo
