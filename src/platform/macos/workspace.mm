// The workspace through AppKit, compiled with automatic reference counting. Each operation
// drains its own autorelease pool: the tool has no application object that would drain one.
#import <AppKit/AppKit.h>

#include "platform/macos/workspace.h"

#include <type_traits>

#include "platform/macos/cf_values.h"

namespace nevo::macos {
namespace {

// The core passes AppKit's activation policy and options through as numbers. The policy is
// an NS_ENUM over NSInteger (0 regular, 1 accessory, 2 prohibited), so its values fit an
// int; the options are NSUInteger flags.
static_assert(kActivationPolicyRegular == NSApplicationActivationPolicyRegular);
static_assert(std::is_enum_v<NSApplicationActivationPolicy>);
static_assert(std::is_same_v<std::underlying_type_t<NSApplicationActivationPolicy>, NSInteger>);
static_assert(sizeof(NSApplicationActivationOptions) == sizeof(NSUInteger));
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
// Named here only, to check the number: the constant is deprecated from macOS 14 on.
static_assert(kActivateIgnoringOtherApps == NSApplicationActivateIgnoringOtherApps);
#pragma clang diagnostic pop
// The process identifier goes into the core's ProcessId unchanged.
static_assert(sizeof(pid_t) == sizeof(ProcessId) && std::is_signed_v<pid_t>);

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

class AppKitWorkspace final : public Workspace {
 public:
  std::optional<RunningApplication> frontmostApplication() override {
    @autoreleasepool {
      NSRunningApplication* front = [NSWorkspace sharedWorkspace].frontmostApplication;
      if (front == nil) return std::nullopt;
      return snapshot(front);
    }
  }

  std::vector<RunningApplication> runningApplications() override {
    @autoreleasepool {
      NSArray<NSRunningApplication*>* all = [NSWorkspace sharedWorkspace].runningApplications;
      std::vector<RunningApplication> result;
      result.reserve(all.count);
      for (NSUInteger i = 0; i < all.count; ++i) {
        result.push_back(snapshot([all objectAtIndex:i]));
      }
      return result;
    }
  }

  std::optional<RunningApplication> runningApplication(ProcessId pid) override {
    @autoreleasepool {
      NSRunningApplication* application =
          [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
      if (application == nil) return std::nullopt;
      return snapshot(application);
    }
  }

  bool activate(const RunningApplication& application, unsigned options) override {
    @autoreleasepool {
      NSRunningApplication* target =
          application.native != nullptr
              ? (__bridge NSRunningApplication*)application.native.get()
              : [NSRunningApplication
                    runningApplicationWithProcessIdentifier:application.processIdentifier];
      if (target == nil) return false;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
      // macOS 14 deprecates the option "ignoring other apps" (it has no effect there) and
      // adds activateFromApplication:options: for cooperative activation, which macOS 12
      // and 13 do not have; the option comes from the core as a number, and the pragma
      // keeps the call warning-free under an SDK that marks it deprecated as well. On
      // macOS 14 and later the request is granted when the active application (the host)
      // has yielded activation to the target (docs/macos.md).
      return [target activateWithOptions:static_cast<NSApplicationActivationOptions>(options)] !=
             NO;
#pragma clang diagnostic pop
    }
  }
};

}  // namespace

Workspace& appKitWorkspace() {
  static AppKitWorkspace workspace;
  return workspace;
}

}  // namespace nevo::macos
