// How the accessibility interface's attributes are read over AT-SPI: which slots of the
// object cache each attribute needs, and how the value is made from them (docs/linux.md,
// Attributes).
//
// A batch sends every call its attributes need at once and waits once, so that it costs
// about one round trip; each attribute is then answered on its own. Texts (title,
// description, value) and the identifier wait for the role: a password text's texts are
// never asked for, and its identifier is asked alone.
#pragma once

#include <utility>
#include <string_view>
#include <vector>

#include "platform/linux/object_cache.h"
#include "platform/linux/workspace.h"
#include "platform/platform.h"

namespace nevo::lin {

// A read that gave `value`, and one that failed with `status`.
inline AttributeRead success(AttrValue value) {
  return AttributeRead{AxStatus::success, std::move(value)};
}
inline AttributeRead failure(AxStatus status) { return AttributeRead{status, {}}; }

enum class Attribute {
  role,
  subrole,
  protectedContent,
  position,
  size,
  enabled,
  identifier,
  title,
  description,
  value,
  minimized,
  children,
  parent,
  windows,
  focusedWindow,
  focusedElement,
  unsupported,
};

Attribute attributeNamed(std::string_view name);

// Most elements climbed from an element to its top-level window.
inline constexpr int kAncestorLimit = 256;

class AttributeReader {
 public:
  AttributeReader(ObjectCache& cache, Workspace& workspace)
      : cache_(cache), workspace_(workspace) {}

  // One read per name, in order, each with its own status; nothing waits past the deadline.
  std::vector<AttributeRead> read(CachedObject& object, AttributeNames names, double deadline);

 private:
  struct Batch;
  void request(Batch& batch, Attribute attribute);
  AttributeRead answer(Batch& batch, Attribute attribute, double deadline);
  AttributeRead role(Batch& batch);
  AttributeRead subrole(Batch& batch);
  AttributeRead frame(Batch& batch, Attribute attribute);
  // The origin of the top-level window the element was reached through (Workspace::originOf).
  Workspace::Origin originOfWindowAbove(CachedObject& object, double deadline);
  AttributeRead state(Batch& batch, Attribute attribute);
  AttributeRead identifier(Batch& batch);
  AttributeRead text(Batch& batch, Attribute attribute, double deadline);
  AttributeRead value(Batch& batch);
  AttributeRead children(Batch& batch, double deadline);
  AttributeRead parent(Batch& batch);
  AttributeRead windows(Batch& batch, double deadline);
  AttributeRead focus(Batch& batch, Attribute attribute, double deadline);

  ObjectCache& cache_;
  Workspace& workspace_;
};

}  // namespace nevo::lin
