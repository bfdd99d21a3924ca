#include "platform/platform.h"

namespace nevo {
namespace {

// What an Element built from nothing refers to: no object, equal to no element.
class DetachedElement final : public ElementImpl {
 public:
  bool sameObject(const ElementImpl&) const override { return false; }
};

std::shared_ptr<const ElementImpl> detached() {
  static const auto instance = std::make_shared<const DetachedElement>();
  return instance;
}

}  // namespace

Element::Element(std::shared_ptr<const ElementImpl> impl)
    : impl_(impl ? std::move(impl) : detached()) {}

}  // namespace nevo
