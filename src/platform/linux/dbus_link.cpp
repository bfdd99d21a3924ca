#include "platform/linux/dbus_link.h"

#include <poll.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace nevo::lin {
namespace {

// The longest single poll, so that the conversion to milliseconds stays in range.
constexpr double kLongestPollSeconds = 3600;
// With this many calls outstanding the other side has work queued for a while: waking
// for every single reply would only take processor time from it (on a machine with two
// cores, a third of the observation's time went to those wake-ups). The wait then pauses
// this long before looking, so that replies are taken in by the dozen.
constexpr std::size_t kBatchingOutstanding = 32;
constexpr double kBatchingPauseSeconds = 0.0002;

// Checks a name with libdbus's validator, which never prints.
template <class Validate>
bool validated(std::string_view text, Validate validate) {
  const std::string copy(text);
  if (copy.size() != text.size()) return false;
  return validate(copy.c_str(), nullptr) != 0;
}

}  // namespace

double monotonicNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool validBusName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return false;
  return validated(name, dbus_validate_bus_name);
}

bool validObjectPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  return validated(path, dbus_validate_path);
}

Message methodCall(std::string_view destination, std::string_view path, std::string_view interface,
                   std::string_view method) {
  const std::string d(destination), p(path), i(interface), m(method);
  if (d.find('\0') != std::string::npos || i.find('\0') != std::string::npos ||
      m.find('\0') != std::string::npos) {
    return nullptr;
  }
  if (!d.empty() && !dbus_validate_bus_name(d.c_str(), nullptr)) return nullptr;
  if (!validObjectPath(p) || !dbus_validate_interface(i.c_str(), nullptr) ||
      !dbus_validate_member(m.c_str(), nullptr)) {
    return nullptr;
  }
  Message message(dbus_message_new_method_call(d.empty() ? nullptr : d.c_str(), p.c_str(),
                                               i.c_str(), m.c_str()));
  if (message) dbus_message_set_auto_start(message.get(), FALSE);
  return message;
}

// DbusTransport

std::unique_ptr<DbusTransport> DbusTransport::connect(const std::string& address) {
  if (address.empty() || address.find('\0') != std::string::npos) return nullptr;
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
  dbus_error_free(&error);
  if (connection == nullptr) return nullptr;
  dbus_connection_set_exit_on_disconnect(connection, FALSE);
  return std::unique_ptr<DbusTransport>(new DbusTransport(connection));
}

DbusTransport::~DbusTransport() {
  // A private connection must be closed before its last reference goes.
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
}

std::uint32_t DbusTransport::send(DBusMessage& message) {
  if (!dbus_connection_get_is_connected(connection_)) return 0;
  dbus_uint32_t serial = 0;
  if (!dbus_connection_send(connection_, &message, &serial)) return 0;
  return serial;
}

Message DbusTransport::pop() {
  return Message(dbus_connection_pop_message(connection_));
}

int DbusTransport::descriptor() const {
  int fd = -1;
  if (!dbus_connection_get_unix_fd(connection_, &fd)) return -1;
  return fd;
}

bool DbusTransport::wantsWrite() const {
  return dbus_connection_has_messages_to_send(connection_) != 0;
}

bool DbusTransport::pump() {
  if (!dbus_connection_get_is_connected(connection_)) return false;
  return dbus_connection_read_write(connection_, 0) != 0;
}

bool DbusTransport::open() const {
  return dbus_connection_get_is_connected(connection_) != 0;
}

bool DbusTransport::authenticated() const {
  return dbus_connection_get_is_authenticated(connection_) != 0;
}

// Link

bool Link::call(DBusMessage& message, ReplyHandler handler) {
  const std::uint32_t serial = transport_->send(message);
  if (serial == 0) return false;
  pending_.emplace(serial, std::move(handler));
  return true;
}

bool Link::post(DBusMessage& message) {
  dbus_message_set_no_reply(&message, TRUE);
  return transport_->send(message) != 0;
}

void Link::drain() {
  while (Message message = transport_->pop()) {
    const int type = dbus_message_get_type(message.get());
    if (type != DBUS_MESSAGE_TYPE_METHOD_RETURN && type != DBUS_MESSAGE_TYPE_ERROR) continue;
    const auto found = pending_.find(dbus_message_get_reply_serial(message.get()));
    if (found == pending_.end()) continue;
    // The handler may send further calls, which changes the table: take it out first.
    ReplyHandler handler = std::move(found->second);
    pending_.erase(found);
    handler(*message);
  }
}

bool serveLinks(std::span<Link* const> links, const std::function<bool()>& done, double deadline) {
  std::vector<pollfd> fds;
  std::vector<Link*> polled;
  for (;;) {
    for (Link* link : links) {
      link->transport().pump();
      link->drain();
    }
    if (done()) return true;
    const double left = std::fmin(deadline - monotonicNow(), kLongestPollSeconds);
    if (!(left > 0)) return done();
    std::size_t outstanding = 0;
    for (Link* link : links) outstanding += link->open() ? link->outstanding() : 0;
    // No call is outstanding: nothing that could change the answer can arrive.
    if (outstanding == 0) return done();
    if (outstanding >= kBatchingOutstanding) {
      const double pause = std::fmin(kBatchingPauseSeconds, left);
      std::this_thread::sleep_for(std::chrono::duration<double>(pause));
      continue;
    }
    fds.clear();
    polled.clear();
    for (Link* link : links) {
      const int fd = link->transport().descriptor();
      if (fd < 0 || !link->open()) continue;
      short events = POLLIN;
      if (link->transport().wantsWrite()) events |= POLLOUT;
      fds.push_back(pollfd{fd, events, 0});
      polled.push_back(link);
    }
    const int timeout = static_cast<int>(std::ceil(left * 1000));
    if (fds.empty()) return done();
    ::poll(fds.data(), fds.size(), timeout);
  }
}

// ArgReader

ArgReader::ArgReader(DBusMessage& message) {
  valid_ = dbus_message_iter_init(&message, &iter_) != 0;
}

int ArgReader::type() const {
  if (!valid_) return DBUS_TYPE_INVALID;
  return dbus_message_iter_get_arg_type(const_cast<DBusMessageIter*>(&iter_));
}

bool ArgReader::next() {
  if (!valid_) return false;
  valid_ = dbus_message_iter_next(&iter_) != 0;
  return valid_;
}

std::optional<std::uint32_t> ArgReader::uint32() {
  if (type() != DBUS_TYPE_UINT32) return std::nullopt;
  dbus_uint32_t value = 0;
  dbus_message_iter_get_basic(&iter_, &value);
  return value;
}

std::optional<std::int32_t> ArgReader::int32() {
  if (type() != DBUS_TYPE_INT32) return std::nullopt;
  dbus_int32_t value = 0;
  dbus_message_iter_get_basic(&iter_, &value);
  return value;
}

std::optional<double> ArgReader::float64() {
  if (type() != DBUS_TYPE_DOUBLE) return std::nullopt;
  double value = 0;
  dbus_message_iter_get_basic(&iter_, &value);
  return value;
}

std::optional<bool> ArgReader::boolean() {
  if (type() != DBUS_TYPE_BOOLEAN) return std::nullopt;
  dbus_bool_t value = 0;
  dbus_message_iter_get_basic(&iter_, &value);
  return value != 0;
}

std::optional<std::string> ArgReader::string() {
  const int t = type();
  if (t != DBUS_TYPE_STRING && t != DBUS_TYPE_OBJECT_PATH) return std::nullopt;
  const char* value = nullptr;
  dbus_message_iter_get_basic(&iter_, &value);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<ArgReader> ArgReader::recurse(int containerType) {
  if (type() != containerType) return std::nullopt;
  DBusMessageIter inner;
  dbus_message_iter_recurse(&iter_, &inner);
  ArgReader reader(inner);
  // An empty array's iterator reads as the invalid type, which every getter refuses.
  return reader;
}

}  // namespace nevo::lin
