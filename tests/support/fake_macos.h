// A fake of the C interfaces of ApplicationServices and CoreFoundation that the macOS
// backend calls, over the simulated desktop, so that the backend's own code runs on any
// system.
//
// Every object the fake hands out (strings, numbers, arrays, value wrappers, elements) is
// counted: it starts with one reference, CFRetain adds one, CFRelease takes one away, and
// at zero it is freed. A freed object stays known to the fake until the end of the test,
// so that any later use of it is caught. The fake aborts the test, with a message on
// standard error, at what would crash or corrupt memory on a Mac: CFRelease of NULL or of
// a freed object, the use of a freed object, a pointer that is no object of the fake, an
// index out of range. The booleans kCFBooleanTrue and kCFBooleanFalse and kCFNull are
// single objects that are never freed, but their references are counted all the same.
//
// The accessibility functions ask the bound simulated desktop (each through the desktop's
// Platform operation of the same name, so the desktop's log, clock and scripted changes
// see the same calls as when a command runs on the desktop itself) and turn its answers
// into fake objects. A failed request hands out a value all the same (a "poisoned" value,
// which the caller must release without reading it); reading one is reported at the end
// of the test. Where the desktop answers a batch with the same time-out or invalid-element
// failure for every attribute, the fake fails the whole request, as the system does;
// otherwise each failed attribute gets its error value (kAXValueTypeAXError) in the array.
//
// Strings are kept as UTF-16, as CoreFoundation keeps them, so the backend's conversion to
// UTF-8 is exercised. A string of the desktop that is not valid UTF-8 cannot be a CFString;
// the fake stores U+FFFD for each byte it cannot decode.
//
// Without the permission the system refuses every accessibility request with
// kAXErrorAPIDisabled; so does the fake while the desktop is not trusted, and, for a test
// that withdraws the permission in the middle of a command, from a chosen request on.
//
// The workspace (AppKit's NSWorkspace, which has no C interface) is faked too, as a
// process that does not run its run loop sees it: frozen between turns of the run loop.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/macos/workspace.h"
#include "platform/platform.h"
#include "sim_desktop.h"

namespace nevo::fake {

// The desktop that the trust check, element creation and the workspace ask, until the end
// of the test. Binding starts a new run: the workspace reads the desktop afresh.
void bind(sim::SimDesktop& desktop);

// From now on until the end of the test, a successful read of `attribute` of an element
// equal to `element` (single or in a batch) hands out what `make` returns (one reference,
// which goes to the caller) in place of the desktop's value.
void serveRaw(const Element& element, std::string attribute, std::function<CFTypeRef()> make);

// Objects for tests, each with one reference that belongs to the caller.
CFStringRef makeString(std::u16string_view units);
CFNumberRef makeInteger(long long value, CFNumberType type = kCFNumberSInt64Type);
CFNumberRef makeReal(double value, CFNumberType type = kCFNumberFloat64Type);
// The array takes over the references of its items.
CFArrayRef makeArray(std::initializer_list<CFTypeRef> items);
AXValueRef makePoint(CGPoint point);
AXValueRef makeSize(CGSize size);
AXValueRef makeRect(CGRect rect);
AXValueRef makeRange(CFRange range);
AXValueRef makeError(AXError error);
// An object of a type the backend has no use for (a URL, an attributed string ...).
CFTypeRef makeOther();

// The references an object holds now; 0 once it is freed.
long referenceCount(CFTypeRef object);
// Objects made in this test and not freed (the permanent ones not counted).
std::size_t liveObjects();
// How often the C function of that name was called in this test.
int calls(std::string_view function);

// The clock and run loop of CoreFoundation. By default a run of the run loop advances the
// clock by the time asked for and returns kCFRunLoopRunTimedOut.
struct RunLoop {
  CFAbsoluteTime now = 0;  // what CFAbsoluteTimeGetCurrent answers
  // Answers CFRunLoopRunInMode(seconds) in place of the default, when set.
  std::function<CFRunLoopRunResult(CFTimeInterval seconds)> run;
  std::vector<CFTimeInterval> runs;  // the seconds of every run, in order
  std::vector<bool> returnsAfterSource;  // each run's returnAfterSourceHandled, in order
};
RunLoop& runLoop();

// AppKit's workspace over the bound desktop. Each kind of read (the frontmost application,
// the running applications, the application of one pid) answers what the desktop reported
// at the first such read after the last turn of the run loop, as AppKit's values persist
// until the run loop turns: a CFRunLoopRunInMode call, or runLoopTurned(). Activation goes
// to the desktop at once.
macos::Workspace& workspace();
// The run loop was served outside CFRunLoopRunInMode (the tests' wait on the desktop's
// clock, which stands in for cfRunLoopUntil).
void runLoopTurned();

// Accessibility requests: reads, batches, counts, value copies, writes, actions and hit
// tests (each would be served by another application). From the one after the first
// `allowed` of them on, every request is refused with kAXErrorAPIDisabled, as after the
// permission was withdrawn; the trust check keeps the desktop's answer.
void refuseRequestsAfter(int allowed);
// The requests made so far in this test, refused ones included.
int requests();

// The end of a test: what was wrong (objects still alive, with where they came from; the
// permanent objects' counts off; poisoned values read), then every object is freed and
// every setting reset.
std::vector<std::string> endTest();

}  // namespace nevo::fake
