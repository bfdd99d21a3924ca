// The workspace through AppKit, compiled with automatic reference counting. Each function
// drains its own autorelease pool: the tool has no application object that would drain one.
#import <AppKit/AppKit.h>

#include "platform/macos/workspace.h"

#include "platform/macos/cf_values.h"

namespace nevo::macos {
namespace {

// The core passes AppKit's activation policy through. (Its activation options are
// AppKit's too; the constant for kActivateIgnoringOtherApps is deprecated in newer SDKs, so
// it is not named here.)
static_assert(kActivationPolicyRegular == NSApplicationActivationPolicyRegular);

std::optional<std::string> text(NSString* string) {
  if (string == nil) return std::nullopt;
  // The same conversion as every other string of the tool: a lone surrogate becomes U+FFFD
  // (UTF8String may give NULL for a string it cannot convert whole).
  return utf8String((__bridge CFStringRef)string);
}

// The application as the workspace reports it now, holding a reference to its object for
// a later activation.
RunningApplication snapshot(NSRunningApplication* application) {
  RunningApplication r;
  r.processIdentifier = application.processIdentifier;
  r.localizedName = text(application.localizedName);
  r.bundleIdentifier = text(application.bundleIdentifier);
  r.activationPolicy = static_cast<int>(application.activationPolicy);
  r.terminated = application.terminated;
  r.native = std::shared_ptr<const void>(
      (__bridge_retained const void*)application, [](const void* object) {
        NSRunningApplication* released = (__bridge_transfer NSRunningApplication*)object;
        (void)released;
      });
  return r;
}

}  // namespace

std::optional<RunningApplication> frontmostApplication() {
  @autoreleasepool {
    NSRunningApplication* front = [NSWorkspace sharedWorkspace].frontmostApplication;
    if (front == nil) return std::nullopt;
    return snapshot(front);
  }
}

std::vector<RunningApplication> runningApplications() {
  @autoreleasepool {
    NSArray<NSRunningApplication*>* all = [NSWorkspace sharedWorkspace].runningApplications;
    std::vector<RunningApplication> result;
    result.reserve(all.count);
    for (NSUInteger i = 0; i < all.count; ++i) result.push_back(snapshot([all objectAtIndex:i]));
    return result;
  }
}

std::optional<RunningApplication> runningApplication(ProcessId pid) {
  @autoreleasepool {
    NSRunningApplication* application =
        [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    if (application == nil) return std::nullopt;
    return snapshot(application);
  }
}

bool activate(const RunningApplication& application, unsigned options) {
  @autoreleasepool {
    NSRunningApplication* target =
        application.native != nullptr
            ? (__bridge NSRunningApplication*)application.native.get()
            : [NSRunningApplication
                  runningApplicationWithProcessIdentifier:application.processIdentifier];
    if (target == nil) return false;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    // macOS 14 deprecates activateWithOptions: (and "ignoring other apps") in favour of
    // calls that macOS 12 and 13 do not have; the tool runs on all three.
    return [target activateWithOptions:static_cast<NSApplicationActivationOptions>(options)] != NO;
#pragma clang diagnostic pop
  }
}

}  // namespace nevo::macos
