// Hostile desktops for the property tests: a plan of a simulated desktop
// whose applications misbehave in every way the accessibility interface allows (trees
// wider and deeper than every budget, children that include their own ancestors, parents
// that loop, counts that lie, attribute values of every kind, NaN and huge frames, texts
// with U+0000, U+2028, piles of combining marks and long emoji sequences, reads that fail
// or time out, applications that quit or move the focus while a command runs), the
// RapidCheck generators of such plans, and the builder that turns one into a SimDesktop.
//
// A plan is a value, so RapidCheck can shrink it and print it, and the same plan can be
// built twice: once calm (no failures, latencies or scripted changes) to list the
// windows, once hostile to run a command on.
#pragma once

#include <rapidcheck.h>

#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim_desktop.h"

namespace nevo::hostile {

// Written into the title, description and value of every protected element; it must
// never reach a reply.
inline constexpr std::string_view kSecretMarker = "SECRET-7f3a9c";

// One attribute value of any kind the interface hands out.
struct ValuePlan {
  enum class Kind { string, number, boolean, element, array, point, size, other };
  Kind kind = Kind::string;
  std::string text;  // string; kind of an other value
  double a = 0;      // number; point x; size width
  double b = 0;      // point y; size height
  bool flag = false;
  int ref = 0;    // element: a node of the desktop (taken modulo the node count)
  int count = 0;  // array: this many elements, from node `ref` on
};

// Something wrong with the requests about one attribute of a node.
struct FaultPlan {
  enum class Kind { failRead, failCount, failValues, failWrite, slow };
  Kind kind = Kind::failRead;
  std::string attribute;
  AxStatus status = AxStatus::cannotComplete;
  double seconds = 0;  // slow: each request about the attribute takes this long
};

// A further AXChildren value: an ancestor (`steps` levels up, 0 being the node itself),
// or any node of the desktop.
struct LinkPlan {
  bool ancestor = true;
  int steps = 0;  // ancestor: levels up; otherwise a node of the desktop
};

// One element and its subtree.
struct NodePlan {
  std::vector<std::pair<std::string, ValuePlan>> attributes;  // AXRole among them, or absent
  std::vector<FaultPlan> faults;
  std::optional<long> reportedChildren;  // what AXChildren's count says, whatever it holds
  std::vector<LinkPlan> links;
  // A protected element: a secure text field or protected content, carrying the marker.
  enum class Secret { none, secureField, protectedContent };
  Secret secret = Secret::none;
  // Bulk shapes, built without spelling every node out: this many plain buttons below
  // the node; a chain of this many nested groups; a chain this deep in which every node
  // lists its one child twice (two to the power of the depth paths).
  int wide = 0;
  int chain = 0;
  int doubling = 0;
  std::vector<NodePlan> children;
};

// Which element an application's AXFocusedWindow or AXFocusedUIElement holds.
struct FocusPlan {
  enum class Kind { none, window, node, anyNode, value };
  Kind kind = Kind::none;
  int index = 0;    // window or node of the application, or node of the desktop
  ValuePlan value;  // value: a non-element value
};

struct AppPlan {
  ProcessId pid = 0;
  std::optional<std::string> name;
  std::optional<std::string> bundleId;
  int policy = kActivationPolicyRegular;
  bool terminated = false;
  bool refusesActivation = false;
  bool raiseFocuses = true;
  double raiseFocusDelay = 0;
  std::vector<NodePlan> windows;
  int plainWindows = 0;     // further plain windows, each with its own title and frame
  bool twinWindow = false;  // a further window with the first plain window's identity
  std::optional<long> reportedWindows;
  FocusPlan focusedWindow;
  FocusPlan focusedElement;
  std::vector<FaultPlan> faults;  // on the application element
};

// A change while a command runs: at a virtual time after the start, or right after the
// n-th accessibility request.
struct ChangePlan {
  enum class Kind {
    frontmost,
    quit,
    focusWindow,
    focusElement,
    closeWindow,
    retitle,
    move,
    minimize
  };
  Kind kind = Kind::frontmost;
  bool afterRequests = false;
  double delay = 0;
  int requests = 0;
  int app = 0;  // index into the applications (modulo), or for frontmost: none when negative
  FocusPlan focus;
  int window = 0;
  std::string text;
  Rect frame;
  bool flag = false;
};

struct DesktopPlan {
  bool trusted = true;
  std::vector<AppPlan> apps;
  int frontmost = -1;  // index into the applications; negative: none
  bool ignoresMaxCount = false;
  double hitTestLatency = 0;
  std::vector<ChangePlan> changes;
};

// The same desktop without failures, latencies, lies about counts, scripted changes,
// refusals or delays, with distinct process identifiers and window sizes as magnitudes:
// what a --windows run lists
// there, a --focus run on the same calm desktop must be able to focus.
DesktopPlan calm(DesktopPlan plan);

// A desktop built from a plan, with what the properties need to know about it.
struct BuiltDesktop {
  std::unique_ptr<sim::SimDesktop> desktop;
  // Nodes that the tool can tell are protected: their subrole is "AXSecureTextField" or
  // their AXProtectedContent is true, and the read that says so does not fail.
  std::set<int> protectedNodes;
  // Whether some application may have a focused element when the observation starts.
  bool focusedElementPossible = false;
  WallTime start = 0;
};
BuiltDesktop build(const DesktopPlan& plan);

// Generators.
rc::Gen<std::string> hostileText();
rc::Gen<double> hostileNumber();
rc::Gen<DesktopPlan> hostileDesktop();

std::ostream& operator<<(std::ostream& os, const DesktopPlan& plan);

}  // namespace nevo::hostile
