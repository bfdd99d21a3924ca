// An accessible application as the backend meets it, played over one end of a socket pair
// from a thread of its own: a tree of objects answering the AT-SPI calls the backend makes,
// the bus daemon's and the registry's answers about it, and a log of every call, so that
// tests can say what was asked and what never was. It can stop answering (as a stopped
// process does) and resume.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/atspi_wire.h"
#include "platform/linux/dbus_link.h"
#include "platform/platform.h"

namespace nevo::lin::test {

inline constexpr const char* kFakeBusName = ":1.7";
inline constexpr ProcessId kFakePid = 4242;

struct FakeObject {
  std::uint32_t role = 0;
  StateSet states = 0;
  Extents extents;
  std::string name;
  std::string description;
  std::string id;
  std::string text;                   // the Text interface's contents
  std::optional<double> value;        // the Value interface's current value
  std::vector<std::string> children;  // object paths
  std::string parent;                 // object path
};

// What a hostile application does to whoever reads it (each mode answers every call, as
// a valid message the bus would relay).
enum class Hostility {
  none,
  // Every reply follows a signal whose header holds hundreds of unknown fields, each a
  // variant of the deepest nesting the bus relays, and every description comes as a variant
  // of dictionary entries of that nesting, up to near the message size limit.
  deepValues,
  // Every string (names, descriptions, identifiers, texts) is 16 MiB long, after its
  // object's own text.
  hugeStrings,
  // The application offers its own socket, and closes every connection to it once a few
  // calls have come over them, with calls unanswered (it is accepted again later).
  closesOwnConnections,
};

// One call the application received.
struct LoggedCall {
  std::string member;
  std::string path;
  std::string detail;  // the property asked for by Get
};

// What the application's toolkit serves: by default GTK 3's (Collection on the root, the
// accessible id answered); Qt's offers no Collection and refuses AccessibleId.
struct FakeToolkit {
  std::string name = "GTK";
  std::string version = "3.24.38";
  bool collection = true;
  bool accessibleId = true;
};

class FakeApplication {
 public:
  FakeApplication();
  ~FakeApplication();
  FakeApplication(const FakeApplication&) = delete;
  FakeApplication& operator=(const FakeApplication&) = delete;

  // Adds an object at `path` (the root is /org/a11y/atspi/accessible/root); the parent's
  // children and the object's parent are filled in.
  void add(const std::string& path, const std::string& parent, FakeObject object);
  // Removes an object (a window closed): calls on it are answered with an error.
  void remove(const std::string& path);
  void setToolkit(FakeToolkit toolkit);
  // Whether a call came that crashes a Qt application (Properties.GetAll): it then stops
  // answering for good, as the application would have died.
  bool crashed() const { return crashed_; }
  // Stops answering, or answers again (what came meanwhile included).
  void stop() { stopped_ = true; }
  void resume() { stopped_ = false; }
  // Set before the link is used.
  void setHostility(Hostility hostility);
  // From now on the application is served by a process of its own (the test's process then
  // holds only the reader's side: its memory is the reader's); it ends when the link
  // closes. Called before takeLink(); false when no process could be had.
  bool serveFromChildProcess();
  // Connections made to the application's own socket, and those it closed with calls
  // unanswered.
  int ownConnections() const { return ownConnections_; }
  int closedConnections() const { return closedConnections_; }

  // The backend's end of the connection; taken once.
  std::unique_ptr<Link> takeLink() { return std::move(link_); }
  std::vector<LoggedCall> calls() const;
  // The calls made on one object.
  std::vector<LoggedCall> callsOn(const std::string& path) const;

 private:
  void serve();
  std::string answer(const std::string& bytes);
  static std::string askedProperty(const std::string& bytes, std::uint32_t serial);
  std::string hostileAnswer(const std::string& bytes, const std::string& member,
                            const FakeObject& object, std::uint32_t serial);

  std::atomic<Hostility> hostility_{Hostility::none};
  std::atomic<int> listener_{-1};
  std::string ownAddress_;
  std::atomic<int> ownConnections_{0};
  std::atomic<int> closedConnections_{0};

  int socket_ = -1;
  std::unique_ptr<Link> link_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> crashed_{false};
  FakeToolkit toolkit_;
  mutable std::mutex mutex_;
  std::map<std::string, FakeObject> objects_;
  std::vector<LoggedCall> calls_;
  std::thread thread_;
};

}  // namespace nevo::lin::test
