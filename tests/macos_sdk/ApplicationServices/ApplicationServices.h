// The accessibility declarations (HIServices: AXError.h, AXValue.h, AXUIElement.h) and
// geometry types (CoreGraphics: CGBase.h, CGGeometry.h) that the macOS backend uses, as
// Apple's headers declare them. Declarations only; the tests link a fake of
// these functions (tests/support/fake_macos.cpp).
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <sys/types.h>

typedef double CGFloat;  // 64-bit
struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;
struct CGRect {
  CGPoint origin;
  CGSize size;
};
typedef struct CGRect CGRect;

// CF_ENUM(int32_t, AXError).
enum AXError : int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorInvalidUIElementObserver = -25203,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotificationUnsupported = -25207,
  kAXErrorNotImplemented = -25208,
  kAXErrorNotificationAlreadyRegistered = -25209,
  kAXErrorNotificationNotRegistered = -25210,
  kAXErrorAPIDisabled = -25211,
  kAXErrorNoValue = -25212,
  kAXErrorParameterizedAttributeUnsupported = -25213,
  kAXErrorNotEnoughPrecision = -25214
};

// The kinds of value an AXValueRef wraps. The older names kAXValueCGPointType (1),
// kAXValueCGSizeType (2), kAXValueCGRectType (3), kAXValueCFRangeType (4),
// kAXValueAXErrorType (5) and kAXValueIllegalType (0) denote the same values; the SDK marks
// them deprecated since macOS 10.11, so the backend uses these.
// CF_ENUM(UInt32, AXValueType).
enum AXValueType : UInt32 {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4,
  kAXValueTypeAXError = 5,
  kAXValueTypeIllegal = 0
};

// CF_OPTIONS(UInt32, AXCopyMultipleAttributeOptions), in C++ a typedef of UInt32 with an
// anonymous enumeration of the flags. With none (0), the error of each attribute comes back
// inside the array as a value of kind kAXValueTypeAXError.
typedef UInt32 AXCopyMultipleAttributeOptions;
enum : UInt32 { kAXCopyMultipleAttributeOptionStopOnError = 0x1 };

typedef const struct __AXUIElement* AXUIElementRef;
typedef const struct __AXValue* AXValueRef;

CF_EXTERN_C_BEGIN

Boolean AXIsProcessTrusted(void);

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values);
AXError AXUIElementGetAttributeValueCount(AXUIElementRef element, CFStringRef attribute,
                                          CFIndex* count);
AXError AXUIElementCopyAttributeValues(AXUIElementRef element, CFStringRef attribute, CFIndex index,
                                       CFIndex maxValues, CFArrayRef* values);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);
AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* element);

CFTypeID AXValueGetTypeID(void);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

CF_EXTERN_C_END
