// The Foundation and Objective-C runtime declarations that the macOS backend's Objective-C
// file uses, as Apple's headers declare them (objc/objc.h, NSObjCRuntime.h, NSObject.h,
// NSString.h, NSArray.h). Declarations only: they serve to type-check that file with clang
// (-fsyntax-only); nothing is ever linked against them.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

// BOOL is bool on arm64 and signed char on x86_64 Macs (objc.h). The type check runs once
// for each (NEVO_SDK_BOOL_IS_BOOL selects the arm64 form on any machine).
#if defined(NEVO_SDK_BOOL_IS_BOOL) || !defined(__x86_64__)
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
#define YES __objc_yes
#define NO __objc_no
#define nil nullptr

// 64-bit macOS.
typedef long NSInteger;
typedef unsigned long NSUInteger;

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

NS_ASSUME_NONNULL_BEGIN

__attribute__((objc_root_class))
@interface NSObject
@end

@interface NSString : NSObject
@end

@interface NSArray<__covariant ObjectType> : NSObject
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end

NS_ASSUME_NONNULL_END
