// The backend's D-Bus connections: the accessibility bus (found through the environment, the
// display or the session bus) and, for an application read at length, its own socket.
//
// Calls are sent at once and answered through their handlers; a wait serves every
// connection until what it waits for has come or its deadline has passed, so that calls
// sent together cost about one round trip.
#pragma once

#include <poll.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/dbus_link.h"
#include "platform/linux/x11_desktop.h"

namespace nevo::lin {

// Calls to one application after which its own socket is opened: enough that the
// application is being read at length (the observation), few enough that the walk goes
// over the socket from its start.
inline constexpr int kPeerCallThreshold = 4;
// Calls to one application after which more connections are opened to its socket, the
// calls spread over them in turn: an application walked element by element. A GTK
// application's main loop answers one call per connection each turn, so calls that come
// over several connections are answered several a turn, with less of the application's own
// work per call (measured on gtk3-widget-factory: its processor time for the observation a
// quarter less with three connections, a little less again with five). An application read
// for its windows alone gets one: the others would cost it more than they save.
inline constexpr int kWidePeerCallThreshold = 32;
inline constexpr int kPeerConnections = 5;
// The event this run listens for: a client that listens is one of the two things that
// wake Chromium's tree (Toolkits, toolkit_facts.h; LinuxPlatform::awaitWokenTree does the
// rest). The registration is this connection's: the registry drops it when the tool's
// connection closes, and applications woken by it stay awake. A window's activation is a
// rare event, so that the applications send next to nothing for it while the tool runs.
inline constexpr std::string_view kWakeEvent = "window:activate";
// How long after the listener went out a window that such an application shows bare is
// waited for (it builds its tree 30-50 ms after the wake, as measured; the rest is room for
// a loaded machine), and the slice in which it is asked again.
inline constexpr double kWakeSeconds = 0.3;
inline constexpr double kWakeSliceSeconds = 0.02;
// Most applications taken from the registry's listing.
inline constexpr std::size_t kApplicationListingLimit = 1024;

// Counts of what a run sent, for the benchmark.
struct CallStatistics {
  long calls = 0;      // calls sent
  long peerCalls = 0;  // of them, over an application's own socket
  long hitTests = 0;
  long hitTestCalls = 0;                 // calls a hit test made itself (not read-ahead)
  std::map<std::string, long> byMethod;  // calls by interface member
  // Time spent waiting for replies, and time during which no call was outstanding (the
  // applications had nothing of this run's to do), from the first call to the last reply.
  double waitingSeconds = 0;
  double idleSeconds = 0;
};

class Connections {
 public:
  // Connects to the accessibility bus and asks its registry for the applications; the
  // listing, or absent when the bus cannot be found or reached or the registry does not
  // answer by the deadline.
  std::optional<std::vector<ObjectRef>> open(X11Desktop& display, double deadline);
  // Asks the registry for the applications on the bus; absent when it does not answer by
  // the deadline.
  std::optional<std::vector<ObjectRef>> listApplications(double deadline);
  bool connected() const { return bus_ != nullptr; }
  // Takes a bus link already connected (tests: a scripted application on a socket pair).
  void adopt(std::unique_ptr<Link> bus) { bus_ = std::move(bus); }

  // Sends one accessibility call to the application on `bus` (over its own socket once
  // that is open); `handler` runs with the reply. False when it could not be sent.
  bool send(const std::string& bus, const Call& call, ReplyHandler handler);
  // Sends a call to the bus daemon or the registry: always over the bus.
  bool sendToBus(const Call& call, ReplyHandler handler);
  // Serves every connection until `done` or the monotonic deadline; the last answer of
  // `done`.
  bool await(const std::function<bool()>& done, double deadline);

  // Serves every connection until the monotonic deadline, whether or not calls are
  // outstanding (late replies reach their handlers), also watching `watched` (a descriptor
  // or -1): `onWatched` runs first and whenever it has something to read.
  void serveUntil(int watched, const std::function<void()>& onWatched, double deadline);

  const CallStatistics& statistics() const { return statistics_; }
  // When the wake's listener was registered (monotonic seconds), 0 before the bus is open.
  double wokenAt() const { return wokenAt_; }
  CallStatistics& statistics() { return statistics_; }
  // Counts calls by method, and the calls a hit test makes itself (costs a little per call).
  void collectDetailedStatistics() { detailedStatistics_ = true; }
  // Marks the calls sent from now on, until the end of the hit test, as the hit test's.
  void setInHitTest(bool inHitTest) { inHitTest_ = inHitTest; }

 private:
  Link* linkFor(const std::string& bus);
  std::vector<Link*> links();
  void openPeer(const std::string& bus);
  void connectPeers(const std::string& bus, int count);
  void count(const Call& call, Link* link);

  std::unique_ptr<Link> bus_;
  // An application's own connections, by its bus name.
  std::unordered_map<std::string, std::vector<std::unique_ptr<Link>>> peers_;
  std::size_t nextPeer_ = 0;
  // Per application: its socket's address once told, and calls made to it (which say when
  // its socket is asked for and when it is read at length, more connections wanted).
  std::unordered_map<std::string, std::string> peerAddresses_;
  std::unordered_map<std::string, int> callsByBus_;
  CallStatistics statistics_;
  bool detailedStatistics_ = false;
  bool inHitTest_ = false;
  int inHandler_ = 0;
  // For the idle time: calls outstanding, and since when none is.
  long outstanding_ = 0;
  double idleSince_ = 0;
  double wokenAt_ = 0;
};

}  // namespace nevo::lin
