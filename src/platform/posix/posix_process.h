// Process, standard-input and clock services shared by the POSIX backends.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace nevo::posix {

ProcessId ownProcessIdentifier();
// Up to maxBytes bytes from file descriptor 0; empty at end of input or on a read error.
std::string readStandardInput(std::size_t maxBytes);
WallTime now();
// Sleeps until `date` (a process without a run loop has nothing to serve meanwhile).
void sleepUntil(WallTime date);

}  // namespace nevo::posix
