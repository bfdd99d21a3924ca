// An element of the Linux backend: an application (by process, resolved to its bus name
// when it has registered with the accessibility registry), an accessible object, or the
// system-wide element.
#pragma once

#include <optional>
#include <span>

#include "platform/linux/atspi_wire.h"
#include "platform/platform.h"

namespace nevo::lin {

class LinuxElement final : public ElementImpl {
 public:
  enum class Kind { application, object, systemWide };
  LinuxElement(Kind elementKind, ObjectRef object, ProcessId process)
      : kind(elementKind), ref(std::move(object)), pid(process) {}
  // The same accessible object (bus name and path): an application's element equals
  // itself across creations and equals the application object handed out as a parent.
  bool sameObject(const ElementImpl& other) const override;

  const Kind kind;
  const ObjectRef ref;  // empty bus name: an application that is not accessible
  const ProcessId pid;  // applications only
  // The time-out of requests through this element, once set.
  mutable std::optional<float> timeout;
};

// The element of an accessible object.
Element objectElement(const ObjectRef& ref);

// A list of objects as an array value; a null reference keeps its place as a value that is
// not an element.
ArrayValue elementArray(std::span<const ObjectRef> refs);

}  // namespace nevo::lin
