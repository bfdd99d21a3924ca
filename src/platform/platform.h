// The platform interface: every operation the tool asks of the operating system's
// accessibility, workspace, process, standard-input, clock and run-loop services.
//
// The core (app, observe, windows, focus) is written against this interface only and
// never includes a framework header. Backends live in subfolders; tests use the
// simulated desktop in tests/support.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nevo {

using ProcessId = std::int32_t;

// Wall-clock time in seconds. Deadlines are time points that loops compare with now().
using WallTime = double;

// Result of an accessibility request. The core only ever tells success from failure;
// the distinct failure kinds exist so that backends and the simulated desktop can say
// what happened.
enum class AxStatus {
  success,
  failure,
  attributeUnsupported,
  noValue,
  cannotComplete,  // the other application did not answer in time, or went away
  invalidElement,
  actionUnsupported,
};

// A backend's reference to one user-interface object of another process (or to the
// system-wide object). Released in the destructor.
class ElementImpl {
 public:
  virtual ~ElementImpl() = default;
  // The platform's equality: true when both references denote the same object.
  virtual bool sameObject(const ElementImpl& other) const = 0;
};

// A reference-counted accessibility element. Copies share the reference; equality is
// the platform's, never identity of the handles.
//
// An Element always refers to something: built from a null pointer it refers to a
// detached object that equals no element (itself included) and that no backend
// recognises, so every request about it fails. Moving copies the reference, so a
// moved-from Element stays usable too.
class Element {
 public:
  explicit Element(std::shared_ptr<const ElementImpl> impl);
  Element(const Element&) = default;
  Element& operator=(const Element&) = default;

  const ElementImpl& impl() const { return *impl_; }
  // The backend's object, or null when the element is not one of type T.
  template <class T>
  const T* as() const {
    return dynamic_cast<const T*>(impl_.get());
  }

  friend bool operator==(const Element& a, const Element& b) {
    return a.impl_->sameObject(*b.impl_);
  }

 private:
  std::shared_ptr<const ElementImpl> impl_;
};

// The value of an attribute, as the accessibility interface hands it out. Strings are
// UTF-8: a backend replaces what it cannot convert (a lone surrogate, say) with U+FFFD,
// because a reply holding invalid UTF-8 cannot be written at all.
struct Absent {
  friend bool operator==(Absent, Absent) { return true; }
};
struct NumberValue {
  double value = 0;
  std::string text;  // the platform's own text of the number ("3", "0.5")
};
struct PointValue {
  double x = 0;
  double y = 0;
};
struct SizeValue {
  double width = 0;
  double height = 0;
};
// Anything else the platform may hand out (a range, a URL, a data blob ...).
struct OtherValue {
  std::string kind;
};
struct AttrValue;
using ArrayValue = std::vector<AttrValue>;

// Booleans are kept apart from numbers.
struct AttrValue : std::variant<Absent, std::string, NumberValue, bool, Element, ArrayValue,
                                PointValue, SizeValue, OtherValue> {
  using variant::variant;
  AttrValue() : variant(Absent{}) {}

  bool absent() const { return std::holds_alternative<Absent>(*this); }
  template <class T>
  const T* get() const {
    return std::get_if<T>(this);
  }
};

struct AttributeRead {
  AxStatus status = AxStatus::failure;
  AttrValue value;  // meaningful only on success
};

using AttributeNames = std::span<const std::string_view>;

struct CountRead {
  AxStatus status = AxStatus::failure;
  long count = 0;
};

struct ElementRead {
  AxStatus status = AxStatus::failure;
  std::optional<Element> element;
};

inline constexpr int kActivationPolicyRegular = 0;
// Activation option: bring the application forward even if another is active.
inline constexpr unsigned kActivateIgnoringOtherApps = 2;

// A running application as the workspace reports it, read when it was asked for.
struct RunningApplication {
  ProcessId processIdentifier = 0;
  std::optional<std::string> localizedName;
  std::optional<std::string> bundleIdentifier;
  int activationPolicy = kActivationPolicyRegular;
  bool terminated = false;
  // The backend's own object for this application, when it has one.
  std::shared_ptr<const void> native;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Accessibility.
  // Whether this process may use the accessibility interface. Never prompts.
  virtual bool isProcessTrusted() = 0;
  virtual Element createApplicationElement(ProcessId pid) = 0;
  virtual Element createSystemWideElement() = 0;
  // Requests made through this element object give up after `seconds`. Set on the
  // system-wide element, it becomes the default for every element of the process.
  virtual void setMessagingTimeout(const Element& element, float seconds) = 0;
  // How long a request waits when no messaging time-out applies to it (none set on its
  // element, none on the system-wide element): the platform's own default.
  virtual float defaultMessagingTimeout() = 0;
  virtual AttributeRead copyAttributeValue(const Element& element, std::string_view name) = 0;
  // Several attributes of one element in one request: one read per name, in the order of
  // `names`, each with its own status, so that one unreadable attribute does not spoil
  // the others. When the request itself fails, every read carries its failure.
  virtual std::vector<AttributeRead> copyMultipleAttributeValues(const Element& element,
                                                                 AttributeNames names) = 0;
  virtual CountRead getAttributeValueCount(const Element& element, std::string_view name) = 0;
  // At most maxCount values of an array attribute, from `index`, in the application's order.
  virtual AttributeRead copyAttributeValues(const Element& element, std::string_view name,
                                            long index, long maxCount) = 0;
  virtual AxStatus setBooleanAttribute(const Element& element, std::string_view name,
                                       bool value) = 0;
  virtual AxStatus performAction(const Element& element, std::string_view action) = 0;
  // The element at a screen point, hit-tested through the system-wide element.
  virtual ElementRead copyElementAtPosition(const Element& systemWide, float x, float y) = 0;

  // Workspace and processes.
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual std::vector<RunningApplication> runningApplications() = 0;
  virtual std::optional<RunningApplication> runningApplication(ProcessId pid) = 0;
  // False when the application refuses (or has gone).
  virtual bool activate(const RunningApplication& application, unsigned options) = 0;
  virtual ProcessId ownProcessIdentifier() = 0;

  // Up to maxBytes bytes of standard input; empty at end of input (or on a read error).
  virtual std::string readStandardInput(std::size_t maxBytes) = 0;

  // Clock and run loop.
  virtual WallTime now() = 0;
  // Serves the run loop until `date`; returns at or after it.
  virtual void runLoopUntil(WallTime date) = 0;
};

}  // namespace nevo
