#include "platform/linux/linux_element.h"

#include <memory>

namespace nevo::lin {

bool LinuxElement::sameObject(const ElementImpl& other) const {
  const auto* that = dynamic_cast<const LinuxElement*>(&other);
  if (that == nullptr) return false;
  if (kind == Kind::systemWide || that->kind == Kind::systemWide) return kind == that->kind;
  if (kind == Kind::clientWindow || that->kind == Kind::clientWindow) {
    return kind == that->kind && window == that->window;
  }
  if (!ref.bus.empty() && !that->ref.bus.empty()) return ref == that->ref;
  // Applications that are not accessible are told apart by their process.
  return kind == Kind::application && that->kind == Kind::application && ref.bus.empty() &&
         that->ref.bus.empty() && pid == that->pid;
}

Element objectElement(const ObjectRef& ref) {
  return Element(std::make_shared<LinuxElement>(LinuxElement::Kind::object, ref, 0));
}

Element clientWindowElement(ProcessId pid, std::uint32_t window) {
  return Element(
      std::make_shared<LinuxElement>(LinuxElement::Kind::clientWindow, ObjectRef{}, pid, window));
}

ArrayValue elementArray(std::span<const ObjectRef> refs) {
  ArrayValue array;
  array.reserve(refs.size());
  for (const ObjectRef& ref : refs) {
    if (ref.null()) {
      array.emplace_back(OtherValue{"invalid"});
    } else {
      array.emplace_back(objectElement(ref));
    }
  }
  return array;
}

}  // namespace nevo::lin
