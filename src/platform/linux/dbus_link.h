// D-Bus messaging for the Linux backend over plain libdbus-1: one private connection per
// link, calls sent without waiting, and replies matched to their calls by serial.
//
// Pipelining: a caller sends every call it needs (each with a handler for its reply) and
// then serves the links until what it waits for has arrived or one deadline has passed,
// so that a batch of independent calls costs about one round trip. Replies that come
// after their caller gave up still reach their handlers, which only store what they got.
//
// Nothing here prints, aborts or blocks past a deadline: connections are private, never
// exit the process on disconnect, and every argument handed to libdbus is checked first.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nevo::lin {

// Seconds on the monotonic clock: deadlines of the backend's own waits.
double monotonicNow();

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
// An owned reference to a message.
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A method call, or null when a name is not valid D-Bus syntax (libdbus would complain
// on standard error about an invalid one). The call never starts a service that is not
// running.
Message methodCall(std::string_view destination, std::string_view path, std::string_view interface,
                   std::string_view method);

bool validBusName(std::string_view name);
bool validObjectPath(std::string_view path);

// One connection as the links see it. The real one is a libdbus connection; tests use a
// scripted one.
class Transport {
 public:
  virtual ~Transport() = default;
  // Queues the message for sending; its serial, or 0 when it could not be queued.
  virtual std::uint32_t send(DBusMessage& message) = 0;
  // The next message already received, or null.
  virtual Message pop() = 0;
  // The descriptor to wait on, or -1.
  virtual int descriptor() const = 0;
  // Whether queued output waits for the descriptor to become writable.
  virtual bool wantsWrite() const = 0;
  // Reads and writes what can be without blocking. False once the connection is closed.
  virtual bool pump() = 0;
  virtual bool open() const = 0;
};

// A libdbus private connection. Closed and released in the destructor.
class DbusTransport final : public Transport {
 public:
  // Connects to `address` (authentication goes on while the links are served). Null when
  // the address cannot be reached at once.
  static std::unique_ptr<DbusTransport> connect(const std::string& address);
  ~DbusTransport() override;
  DbusTransport(const DbusTransport&) = delete;
  DbusTransport& operator=(const DbusTransport&) = delete;

  std::uint32_t send(DBusMessage& message) override;
  Message pop() override;
  int descriptor() const override;
  bool wantsWrite() const override;
  bool pump() override;
  bool open() const override;
  bool authenticated() const;

 private:
  explicit DbusTransport(DBusConnection* connection) : connection_(connection) {}
  DBusConnection* connection_;
};

// Called once with the reply (a method return or an error) of its call.
using ReplyHandler = std::function<void(DBusMessage& reply)>;

// One connection and the calls waiting on it.
class Link {
 public:
  explicit Link(std::unique_ptr<Transport> transport) : transport_(std::move(transport)) {}

  // Sends the call; `handler` runs when its reply is served. False when it could not be
  // sent (the handler is then dropped without running).
  bool call(DBusMessage& message, ReplyHandler handler);
  // Sends a message that expects no reply.
  bool post(DBusMessage& message);
  // Hands every message received so far to the handler of the call it answers. Signals,
  // stray replies and answers to nothing are dropped.
  void drain();
  bool waiting() const { return !pending_.empty(); }
  std::size_t outstanding() const { return pending_.size(); }
  bool open() const { return transport_->open(); }
  Transport& transport() { return *transport_; }

 private:
  std::unique_ptr<Transport> transport_;
  std::unordered_map<std::uint32_t, ReplyHandler> pending_;
};

// Serves `links` (drains what came in, waits on their descriptors) until `done` returns
// true or the monotonic `deadline` passes; returns the last answer of `done`. Handlers
// may send further calls meanwhile.
bool serveLinks(std::span<Link* const> links, const std::function<bool()>& done, double deadline);

// Reading arguments of a received message. Every getter checks the type first, so a
// reply of an unexpected shape reads as absent instead of tripping libdbus's checks.
class ArgReader {
 public:
  explicit ArgReader(DBusMessage& message);
  explicit ArgReader(DBusMessageIter iter) : iter_(iter) {}

  int type() const;
  bool next();  // moves to the next argument; false at the end
  std::optional<std::uint32_t> uint32();
  std::optional<std::int32_t> int32();
  std::optional<double> float64();
  std::optional<bool> boolean();
  std::optional<std::string> string();  // a string or an object path
  // The container's contents, or absent when the current argument is not of `type`.
  std::optional<ArgReader> recurse(int containerType);

 private:
  DBusMessageIter iter_{};
  bool valid_ = true;
};

}  // namespace nevo::lin
