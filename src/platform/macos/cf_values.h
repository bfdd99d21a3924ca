// CoreFoundation strings and numbers as the core's values.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

#include "platform/macos/cf_ref.h"
#include "platform/platform.h"

namespace nevo::macos {

// The string's UTF-16 units as UTF-8, whole: U+0000 and characters outside the Basic
// Multilingual Plane included. A surrogate that is not half of a pair becomes U+FFFD, so
// the result is always valid UTF-8. Null gives the empty string.
std::string utf8String(CFStringRef string);

// A string object for `text` (UTF-8), owned by the caller; null when `text` is not valid
// UTF-8.
CfRef cfString(std::string_view text);

// The number as a double, with the text that the system's number object gives as its
// string value: integers as decimal integers, and floating-point values as the number
// object's description writes them ("%0.16g" for doubles, "%0.7g" for 32-bit floats).
NumberValue numberValue(CFNumberRef number);

}  // namespace nevo::macos
