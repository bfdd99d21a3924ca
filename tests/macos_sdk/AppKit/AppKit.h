// The AppKit declarations that the macOS backend's Objective-C file uses, as Apple documents
// them. Declarations only: they serve to type-check that file with clang (-fsyntax-only).
#pragma once

#import <Foundation/Foundation.h>

#include <sys/types.h>

typedef NSUInteger NSApplicationActivationOptions;
enum : NSUInteger {
  NSApplicationActivateAllWindows = 1 << 0,
  NSApplicationActivateIgnoringOtherApps = 1 << 1
};

typedef NSInteger NSApplicationActivationPolicy;
enum : NSInteger {
  NSApplicationActivationPolicyRegular = 0,
  NSApplicationActivationPolicyAccessory = 1,
  NSApplicationActivationPolicyProhibited = 2
};

@interface NSRunningApplication : NSObject
@property(readonly, getter=isTerminated) BOOL terminated;
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* localizedName;
@property(readonly, copy) NSString* bundleIdentifier;
@property(readonly) NSApplicationActivationPolicy activationPolicy;
+ (instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, copy) NSArray<NSRunningApplication*>* runningApplications;
@property(readonly, strong) NSRunningApplication* frontmostApplication;
@end
