// The AppKit declarations that the macOS backend's Objective-C file uses, as Apple's headers
// declare them (NSRunningApplication.h, NSWorkspace.h). Declarations only: they serve to
// type-check that file with clang (-fsyntax-only).
#pragma once

#import <Foundation/Foundation.h>

#include <sys/types.h>

NS_ASSUME_NONNULL_BEGIN

// NS_OPTIONS(NSUInteger, NSApplicationActivationOptions): in C++ and Objective-C++ a typedef
// of NSUInteger with an anonymous enumeration of the flags. "Ignoring other apps" is
// deprecated from macOS 14 on, where it has no effect.
typedef NSUInteger NSApplicationActivationOptions;
enum : NSUInteger {
  NSApplicationActivateAllWindows = 1 << 0,
  NSApplicationActivateIgnoringOtherApps
      __attribute__((deprecated("ignoringOtherApps is deprecated in macOS 14 and will have no effect."))) =
          1 << 1
};

// NS_ENUM(NSInteger, NSApplicationActivationPolicy): an enumeration of its own, with
// NSInteger as its underlying type (not a typedef of NSInteger).
enum NSApplicationActivationPolicy : NSInteger {
  NSApplicationActivationPolicyRegular,
  NSApplicationActivationPolicyAccessory,
  NSApplicationActivationPolicyProhibited
};

@interface NSRunningApplication : NSObject
@property(readonly, getter=isTerminated) BOOL terminated;
@property(readonly) pid_t processIdentifier;
@property(nullable, readonly, copy) NSString* localizedName;
@property(nullable, readonly, copy) NSString* bundleIdentifier;
@property(readonly) NSApplicationActivationPolicy activationPolicy;
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, copy) NSArray<NSRunningApplication*>* runningApplications;
@property(nullable, readonly, strong) NSRunningApplication* frontmostApplication;
@end

NS_ASSUME_NONNULL_END
