// An element of the Linux backend: an application (by process, resolved to its bus name
// when it has registered with the accessibility registry), an accessible object, the
// system-wide element, or the X11 client window of an application without an accessibility
// tree.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/linux/atspi_wire.h"
#include "platform/platform.h"

namespace nevo::lin {

class LinuxElement final : public ElementImpl {
 public:
  enum class Kind { application, object, systemWide, clientWindow };
  LinuxElement(Kind elementKind, ObjectRef object, ProcessId process, std::uint32_t x11Window = 0)
      : kind(elementKind), ref(std::move(object)), pid(process), window(x11Window) {}
  // The same accessible object (bus name and path): an application's element equals
  // itself across creations and equals the application object handed out as a parent. A
  // client window equals the element of the same X11 window.
  bool sameObject(const ElementImpl& other) const override;

  const Kind kind;
  const ObjectRef ref;         // empty bus name: an application that is not accessible
  const ProcessId pid;         // applications and client windows
  const std::uint32_t window;  // client windows: the X11 window
  // The time-out of requests through this element, once set.
  mutable std::optional<float> timeout;
  // An application without an accessibility tree: its windows were listed through this
  // element (client_windows.h says what that decides).
  mutable bool listedWindows = false;
};

// The element of an X11 client window of an application without an accessibility tree.
Element clientWindowElement(ProcessId pid, std::uint32_t window);

// The element of an accessible object.
Element objectElement(const ObjectRef& ref);

// A list of objects as an array value; a null reference keeps its place as a value that is
// not an element.
ArrayValue elementArray(std::span<const ObjectRef> refs);

}  // namespace nevo::lin
