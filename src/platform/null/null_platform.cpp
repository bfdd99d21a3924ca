#include "platform/null/null_platform.h"

#include "platform/backend.h"
#include "platform/posix/posix_process.h"

namespace nevo {
namespace {

// An element of nothing: the interface is not there, so no two elements are the same.
class NullElement final : public ElementImpl {
 public:
  bool sameObject(const ElementImpl&) const override { return false; }
};

}  // namespace

Element NullPlatform::createApplicationElement(ProcessId) {
  return Element(std::make_shared<NullElement>());
}
Element NullPlatform::createSystemWideElement() {
  return Element(std::make_shared<NullElement>());
}
ProcessId NullPlatform::ownProcessIdentifier() {
  return posix::ownProcessIdentifier();
}
std::string NullPlatform::readStandardInput(std::size_t maxBytes) {
  return posix::readStandardInput(maxBytes);
}
WallTime NullPlatform::now() {
  return posix::now();
}
void NullPlatform::runLoopUntil(WallTime date) {
  posix::sleepUntil(date);
}

std::unique_ptr<Platform> makePlatform() {
  return std::make_unique<NullPlatform>();
}

}  // namespace nevo
