// The platform backend this build was made with.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace nevo {

std::unique_ptr<Platform> makePlatform();

}  // namespace nevo
