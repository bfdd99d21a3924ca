// D-Bus connections for the Linux backend: one Unix socket per link, calls queued without
// waiting, and replies matched to their calls by serial.
//
// Pipelining: a caller queues every call it needs (each with a handler for its reply) and
// then serves the links until what it waits for has arrived or one deadline has passed, so
// that a batch of independent calls costs about one round trip, and goes out in one write.
// Replies that come after their caller gave up still reach their handlers, which only store
// what they got.
//
// Nothing here prints, blocks or raises a signal: sockets are non-blocking, writes never
// raise SIGPIPE, and every wait has a deadline on the monotonic clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/linux/dbus_wire.h"

namespace nevo::lin {

// Seconds on the monotonic clock: deadlines of the backend's own waits.
double monotonicNow();

// Called once with the reply (a method return or an error) of its call.
using ReplyHandler = std::function<void(const ReceivedMessage& reply)>;

// The Unix socket addresses of a D-Bus address list, in order: `unix:path=` and
// `unix:abstract=` entries, unescaped (an abstract name starts with a NUL). Other
// transports are left out: the buses an accessibility client meets are local.
std::vector<std::string> unixSocketAddresses(std::string_view addresses);

// The first line of the handshake: the client's credentials, asked to be checked against
// the socket's (SASL EXTERNAL with this process's user id), then the start of messages.
std::string authenticationRequest(unsigned userId);

// One connection and the calls waiting on it.
class Link {
 public:
  // Connects to the first address of the list that accepts a connection at once, and starts
  // the handshake; null when none does. Calls may be queued at once: they follow the
  // handshake.
  static std::unique_ptr<Link> connect(std::string_view addresses);
  // A link over a connected socket, which it takes and closes; with `authenticate` it starts
  // the handshake, else it is ready at once (tests: one end of a socket pair).
  static std::unique_ptr<Link> overSocket(int socket, bool authenticate);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Queues the call; `handler` runs when its reply is served. False when the link is closed
  // or the call is empty (the handler is then dropped without running).
  bool call(const Call& call, ReplyHandler handler);
  // Writes what is queued, without blocking.
  void flush();
  // Reads what has come, without blocking, and hands the whole replies to the handlers of
  // the calls they answer, up to a budget of bytes (the rest is the backlog); then writes
  // what the handlers queued. Signals, strays and answers to nothing are dropped; a message
  // longer than kMessageSizeLimit is passed over as it comes, its call failed. Once a closed
  // link has handed on all it took in, each call still waiting on it is failed with a
  // reply marked linkClosed (as an error), so that it may be asked again elsewhere.
  void receive();
  // Both.
  void pump();

  // The handshake is done and the link is open.
  bool ready() const { return authenticated_ && open_; }
  bool open() const { return open_; }
  int descriptor() const { return socket_; }
  bool wantsWrite() const { return outStart_ < out_.size(); }
  bool waiting() const { return !pending_.empty(); }
  std::size_t outstanding() const { return pending_.size(); }
  // Whole messages (or a broken stream) taken in and not handed on yet: a serving that
  // reached its budget left them for the next, which must come without waiting.
  bool backlog() const;
  // The receive buffer's size (tests: it shrinks back after a long message).
  std::size_t receiveCapacity() const { return inCapacity_; }

 private:
  Link(int socket, bool authenticated);
  bool read();
  void reserve(std::size_t wanted);
  void discardSkipped();
  void dispatch();
  void answer(const ReceivedMessage& message);
  bool takeHandshake();
  void close();
  void failPending();

  int socket_ = -1;
  bool open_ = true;
  bool authenticated_ = false;
  std::uint32_t nextSerial_ = 1;
  std::string out_;
  std::size_t outStart_ = 0;
  std::unique_ptr<char[]> in_;
  std::size_t inCapacity_ = 0;
  std::size_t inStart_ = 0;
  std::size_t inEnd_ = 0;
  std::size_t skipping_ = 0;  // bytes still to pass over of a message too long to read
  std::unordered_map<std::uint32_t, ReplyHandler> pending_;
};

// Serves `links` (writes and reads what it can, waits on their descriptors) until `done`
// returns true or the monotonic `deadline` passes; returns the last answer of `done`.
// Handlers may queue further calls meanwhile.
bool serveLinks(std::span<Link* const> links, const std::function<bool()>& done, double deadline);
// The same serving until the deadline, whether or not calls are outstanding (late replies
// still reach their handlers), also watching `watched` (a descriptor, or -1): `onWatched`
// runs first and whenever the descriptor has something to read.
void serveLinksUntil(std::span<Link* const> links, int watched,
                     const std::function<void()>& onWatched, double deadline);

}  // namespace nevo::lin
