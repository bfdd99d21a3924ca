// One owned reference to a CoreFoundation object, released when the holder goes away.
//
// CoreFoundation's ownership rules appear as the two ways to make a holder:
//   CfRef::adopt(x)   the Create/Copy rule: x came from a function whose name holds
//                     "Create" or "Copy" and its reference is ours; the holder takes it over.
//   CfRef::retain(x)  the Get rule: x was lent to us (a Get function, an item of an array
//                     we hold); the holder takes a reference of its own.
// A holder is moved, never copied, so every reference has exactly one owner, and a null
// holder releases nothing (CFRelease of NULL crashes).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace nevo::macos {

class CfRef {
 public:
  CfRef() = default;
  static CfRef adopt(CFTypeRef object) { return CfRef(object); }
  static CfRef retain(CFTypeRef object) {
    return CfRef(object != nullptr ? CFRetain(object) : nullptr);
  }

  CfRef(CfRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  CfRef& operator=(CfRef&& other) noexcept {
    CfRef taken(std::move(other));
    std::swap(object_, taken.object_);
    return *this;
  }
  CfRef(const CfRef&) = delete;
  CfRef& operator=(const CfRef&) = delete;
  ~CfRef() {
    if (object_ != nullptr) CFRelease(object_);
  }

  CFTypeRef get() const { return object_; }
  // The object as one of CoreFoundation's typed references (CFStringRef, AXUIElementRef
  // ...); the caller has checked its type.
  template <class T>
  T as() const {
    return static_cast<T>(object_);
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit CfRef(CFTypeRef object) : object_(object) {}
  CFTypeRef object_ = nullptr;
};

}  // namespace nevo::macos
