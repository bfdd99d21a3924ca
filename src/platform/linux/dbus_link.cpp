#include "platform/linux/dbus_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <thread>

namespace nevo::lin {
namespace {

// The longest single poll, so that the conversion to milliseconds stays in range.
constexpr double kLongestPollSeconds = 3600;
// With this many calls outstanding the other side has work queued for a while: waking
// for every single reply would only take processor time from it (on a machine with two
// cores, a third of the observation's time went to those wake-ups). The wait then pauses
// this long before looking, so that replies are taken in by the dozen; the calls their
// handlers queue then reach the application by the dozen too, which it answers with less
// work of its own than calls that come one at a time.
constexpr std::size_t kBatchingOutstanding = 16;
constexpr double kBatchingPauseSeconds = 0.0002;
// What one read asks for, and the most one pump takes in before letting its caller look at
// the clock again (a peer that writes without end cannot hold a wait past its deadline).
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kReadsPerPump = 16;
// The longest line of the handshake taken in.
constexpr std::size_t kHandshakeLineLimit = 4096;
// The most bytes of messages one serving of a link hands on before its caller looks at the
// clock again (at least one message is): more than one pump reads, so that what a link has
// taken in cannot pile up, and little enough that a deadline is seen within milliseconds.
constexpr std::size_t kDispatchBytes = 4u << 20;
// A receive buffer larger than this is given back once what it held has been handed on.
constexpr std::size_t kKeptBufferSize = 256 * 1024;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An address value with its %XX escapes undone; absent when an escape is malformed.
std::optional<std::string> unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const int high = hexValue(value[i + 1]);
    const int low = hexValue(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// A non-blocking connection to a Unix socket address (an abstract one starts with a NUL),
// or -1. A listener whose queue is full refuses at once rather than keeping the caller.
int connectUnix(const std::string& address) {
  sockaddr_un target{};
  target.sun_family = AF_UNIX;
  if (address.empty() || address.size() > sizeof target.sun_path) return -1;
  std::memcpy(target.sun_path, address.data(), address.size());
  // A path is NUL-terminated within the structure when it fits; an abstract name is its
  // bytes exactly.
  const bool abstract = address[0] == '\0';
  if (!abstract && address.size() == sizeof target.sun_path) return -1;
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() + (abstract ? 0 : 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

double monotonicNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> unixSocketAddresses(std::string_view addresses) {
  std::vector<std::string> found;
  std::size_t start = 0;
  while (start <= addresses.size()) {
    const std::size_t semicolon = addresses.find(';', start);
    const std::string_view entry = addresses.substr(
        start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start);
    start = semicolon == std::string_view::npos ? addresses.size() + 1 : semicolon + 1;
    constexpr std::string_view kUnix = "unix:";
    if (entry.substr(0, kUnix.size()) != kUnix) continue;
    std::string_view keys = entry.substr(kUnix.size());
    std::optional<std::string> socket;
    while (!keys.empty()) {
      const std::size_t comma = keys.find(',');
      const std::string_view pair = keys.substr(0, comma);
      keys = comma == std::string_view::npos ? std::string_view() : keys.substr(comma + 1);
      const std::size_t equals = pair.find('=');
      if (equals == std::string_view::npos) continue;
      const std::string_view key = pair.substr(0, equals);
      const std::optional<std::string> value = unescaped(pair.substr(equals + 1));
      if (!value || value->empty()) continue;
      if (key == "path") socket = *value;
      if (key == "abstract") socket = std::string(1, '\0') + *value;
    }
    if (socket) found.push_back(std::move(*socket));
  }
  return found;
}

std::string authenticationRequest(unsigned userId) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : std::to_string(userId)) {
    hex += kHex[(c >> 4) & 0xf];
    hex += kHex[c & 0xf];
  }
  // The handshake opens with a NUL byte; BEGIN follows at once, and the first messages may
  // follow it in the same write: the server takes them once it has accepted.
  return std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\nBEGIN\r\n";
}

// Link

std::unique_ptr<Link> Link::connect(std::string_view addresses) {
  for (const std::string& address : unixSocketAddresses(addresses)) {
    const int fd = connectUnix(address);
    if (fd >= 0) return overSocket(fd, true);
  }
  return nullptr;
}

std::unique_ptr<Link> Link::overSocket(int socket, bool authenticate) {
  std::unique_ptr<Link> link(new Link(socket, !authenticate));
  if (authenticate) link->out_ = authenticationRequest(::getuid());
  return link;
}

Link::Link(int socket, bool authenticated) : socket_(socket), authenticated_(authenticated) {}

Link::~Link() {
  if (socket_ >= 0) ::close(socket_);
}

void Link::close() {
  open_ = false;
}

void Link::failPending() {
  // As if each call had been answered with an error: its caller may ask again elsewhere.
  // The table is taken first, as the handlers may queue calls (on this link they fail).
  std::unordered_map<std::uint32_t, ReplyHandler> stranded;
  stranded.swap(pending_);
  for (auto& [serial, handler] : stranded) {
    ReceivedMessage failure;
    failure.type = kMessageError;
    failure.replySerial = serial;
    failure.linkClosed = true;
    handler(failure);
  }
}

bool Link::call(const Call& call, ReplyHandler handler) {
  if (!open_ || !call) return false;
  const std::uint32_t serial = nextSerial_++;
  if (nextSerial_ == 0) nextSerial_ = 1;  // serials are never 0
  // The serial goes at its place in the fixed part of the header.
  const std::size_t at = out_.size();
  out_.append(call.bytes);
  std::memcpy(out_.data() + at + kSerialOffset, &serial, sizeof serial);
  pending_.emplace(serial, std::move(handler));
  return true;
}

void Link::flush() {
  while (open_ && outStart_ < out_.size()) {
    const ssize_t n = ::send(socket_, out_.data() + outStart_, out_.size() - outStart_,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      outStart_ += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      close();
    }
  }
  if (outStart_ == out_.size()) {
    out_.clear();
    outStart_ = 0;
  }
}

void Link::reserve(std::size_t wanted) {
  const std::size_t kept = inEnd_ - inStart_;
  const std::size_t needed = std::max(kept, wanted) + kReadChunk;
  if (needed <= inCapacity_ && inCapacity_ <= std::max(kKeptBufferSize, 2 * needed)) {
    if (inStart_ > 0 && kept > 0) std::memmove(in_.get(), in_.get() + inStart_, kept);
    inStart_ = 0;
    inEnd_ = kept;
    return;
  }
  // Grown to what the message being received needs (its length is known from its first 16
  // bytes; else by doubling, so that a run of messages is not copied once per chunk), or
  // shrunk back once a long one has been handed on.
  const std::size_t capacity = needed > inCapacity_
                                   ? (wanted > 0 ? needed : std::max(needed, 2 * inCapacity_))
                                   : std::max(needed, kKeptBufferSize);
  std::unique_ptr<char[]> resized(new char[capacity]);
  if (kept > 0) std::memcpy(resized.get(), in_.get() + inStart_, kept);
  in_ = std::move(resized);
  inCapacity_ = capacity;
  inStart_ = 0;
  inEnd_ = kept;
}

bool Link::read() {
  bool received = false;
  for (std::size_t reads = 0; open_ && reads < kReadsPerPump; ++reads) {
    // Room for one more chunk, or for the rest of the message that has begun.
    std::size_t wanted = 0;
    if (authenticated_ && skipping_ == 0) {
      const std::optional<std::size_t> length =
          messageLength(std::string_view(in_.get() + inStart_, inEnd_ - inStart_));
      if (length && *length <= kMessageSizeLimit) wanted = *length;
    }
    if (inCapacity_ - inEnd_ < kReadChunk) reserve(wanted);
    const ssize_t n = ::recv(socket_, in_.get() + inEnd_, inCapacity_ - inEnd_, MSG_DONTWAIT);
    if (n > 0) {
      inEnd_ += static_cast<std::size_t>(n);
      received = true;
      if (skipping_ > 0) discardSkipped();
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      close();  // the other side has gone (what it sent before is still taken)
    }
  }
  return received;
}

void Link::discardSkipped() {
  const std::size_t taken = std::min(skipping_, inEnd_ - inStart_);
  inStart_ += taken;
  skipping_ -= taken;
  if (inStart_ == inEnd_) inStart_ = inEnd_ = 0;
}

bool Link::backlog() const {
  if (!authenticated_ || skipping_ > 0 || inStart_ == inEnd_) return false;
  const std::string_view in(in_.get() + inStart_, inEnd_ - inStart_);
  const std::optional<std::size_t> length = messageLength(in);
  // A broken stream is work too: it closes the link.
  return !length || (*length > 0 && (*length <= in.size() || *length > kMessageSizeLimit));
}

bool Link::takeHandshake() {
  const std::string_view in(in_.get() + inStart_, inEnd_ - inStart_);
  const std::size_t end = in.find("\r\n");
  if (end == std::string_view::npos) {
    if (in.size() > kHandshakeLineLimit) close();
    return false;
  }
  // "OK <server id>": accepted; anything else (REJECTED, ERROR) ends the link.
  if (in.substr(0, 3) != "OK ") {
    close();
    return false;
  }
  inStart_ += end + 2;
  authenticated_ = true;
  return true;
}

void Link::dispatch() {
  if (!authenticated_ && !takeHandshake()) return;
  std::size_t handed = 0;
  while (inStart_ < inEnd_ && skipping_ == 0 && handed < kDispatchBytes) {
    const std::string_view in(in_.get() + inStart_, inEnd_ - inStart_);
    const std::optional<std::size_t> length = messageLength(in);
    if (!length) {
      // Not the start of a message: the stream cannot be followed any further.
      close();
      inStart_ = inEnd_;
      return;
    }
    if (*length == 0) return;  // the rest of its header is still on its way
    if (*length > kMessageSizeLimit) {
      // Longer than any reply read: passed over by its length as it comes. The call it
      // answers, if any (its header says), fails now rather than at its deadline.
      const std::optional<ReceivedMessage> header = parseHeader(in);
      skipping_ = *length;
      discardSkipped();
      if (header && header->replySerial != 0 &&
          (header->type == kMessageMethodReturn || header->type == kMessageError)) {
        answer(ReceivedMessage{kMessageError, header->bigEndian, header->replySerial, {}, {}});
      }
      continue;
    }
    if (*length > in.size()) return;  // the rest is still on its way
    inStart_ += *length;
    handed += *length;
    const std::optional<ReceivedMessage> message = parseMessage(in.substr(0, *length));
    if (!message || message->replySerial == 0) continue;
    if (message->type != kMessageMethodReturn && message->type != kMessageError) continue;
    answer(*message);
  }
  if (inStart_ == inEnd_) {
    inStart_ = inEnd_ = 0;
    // A long message has been handed on: its room is given back.
    if (inCapacity_ > kKeptBufferSize) {
      in_.reset();
      inCapacity_ = 0;
    }
  }
}

void Link::answer(const ReceivedMessage& message) {
  const auto found = pending_.find(message.replySerial);
  if (found == pending_.end()) return;
  // The handler may queue further calls, which changes the table: take it out first. The
  // message's bytes stay where they are until the next read.
  ReplyHandler handler = std::move(found->second);
  pending_.erase(found);
  handler(message);
}

void Link::receive() {
  if (open_) read();
  dispatch();
  // Once everything the link took in has been handed on, the calls a closed link still
  // owes are failed.
  if (!open_ && !backlog() && !pending_.empty()) failPending();
  // Calls the handlers queued go out at once.
  flush();
}

void Link::pump() {
  flush();
  receive();
}

namespace {

// The one wait of the backend: serves `links` (writes and reads what it can, waits on their
// descriptors) and, when `watched` is one, runs `onWatched` whenever it has something,
// until `done` or the deadline. Without `throughDeadline` it returns as soon as no call is
// outstanding (nothing that could change the answer can arrive).
bool serve(std::span<Link* const> links, const std::function<bool()>& done, double deadline,
           int watched, const std::function<void()>* onWatched, bool throughDeadline) {
  // Only the links that have something to read are read: one poll says which, and a wait
  // costs a system call per link that answered rather than per link.
  std::vector<pollfd> fds;
  std::vector<Link*> polled;
  std::vector<Link*> served;
  const auto flushAll = [&] {
    for (Link* link : links) {
      if (link->wantsWrite()) link->flush();
    }
  };
  const auto poll = [&](int milliseconds) {
    fds.clear();
    polled.clear();
    for (Link* link : links) {
      if (link->descriptor() < 0 || !link->open()) continue;
      fds.push_back(pollfd{link->descriptor(),
                           static_cast<short>(POLLIN | (link->wantsWrite() ? POLLOUT : 0)), 0});
      polled.push_back(link);
    }
    if (watched >= 0) fds.push_back(pollfd{watched, POLLIN, 0});
    if (fds.empty()) return;
    ::poll(fds.data(), fds.size(), milliseconds);
  };
  bool polledJustNow = false;
  bool first = true;
  for (;;) {
    flushAll();
    if (!polledJustNow) poll(0);
    bool received = false;
    served.clear();
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        polled[i]->receive();
        served.push_back(polled[i]);
        received = true;
      }
    }
    // What a serving left for later (its budget reached), and the calls of links that
    // closed: each link is served once a turn, and the clock looked at between turns.
    for (Link* link : links) {
      if ((link->backlog() || (!link->open() && link->waiting())) &&
          std::find(served.begin(), served.end(), link) == served.end()) {
        link->receive();
      }
    }
    if (onWatched != nullptr &&
        (first || (!fds.empty() && watched >= 0 && fds.back().revents != 0))) {
      (*onWatched)();
    }
    first = false;
    polledJustNow = false;
    if (done()) return true;
    const double left = std::fmin(deadline - monotonicNow(), kLongestPollSeconds);
    if (!(left > 0)) return done();
    std::size_t outstanding = 0;
    bool backlog = false;
    for (Link* link : links) {
      outstanding += link->outstanding();
      backlog = backlog || link->backlog();
    }
    if (outstanding == 0 && !throughDeadline) return done();
    if (backlog) continue;
    flushAll();
    // The pause lets replies that are coming gather; when nothing came, the wait is in poll
    // (calls that will never be answered, to a stopped application, must not keep this
    // loop spinning until the deadline).
    if (outstanding >= kBatchingOutstanding && received) {
      const double pause = std::fmin(kBatchingPauseSeconds, left);
      std::this_thread::sleep_for(std::chrono::duration<double>(pause));
      continue;
    }
    poll(static_cast<int>(std::ceil(left * 1000)));
    if (fds.empty()) {
      if (!throughDeadline) return done();
      std::this_thread::sleep_for(std::chrono::duration<double>(left));
      return done();
    }
    polledJustNow = true;
  }
}

}  // namespace

bool serveLinks(std::span<Link* const> links, const std::function<bool()>& done, double deadline) {
  return serve(links, done, deadline, -1, nullptr, false);
}

void serveLinksUntil(std::span<Link* const> links, int watched,
                     const std::function<void()>& onWatched, double deadline) {
  serve(
      links, [] { return false; }, deadline, watched, &onWatched, true);
}

}  // namespace nevo::lin
