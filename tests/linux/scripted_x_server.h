// A scripted X server on an abstract Unix socket, for tests of what the tool does with a
// display that answers, refuses, or stops answering at a chosen point. It speaks as much of
// the protocol as the tool's X11 side uses: the connection setup (one screen), atoms,
// property reads (every property holds one window), the few other requests that have
// replies, and, when asked to, the X-Resource extension's answer to which process made a
// window.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace nevo::test {

inline constexpr std::uint8_t kGetWindowAttributes = 3;
inline constexpr std::uint8_t kGetGeometry = 14;
inline constexpr std::uint8_t kInternAtom = 16;
inline constexpr std::uint8_t kGetProperty = 20;
inline constexpr std::uint8_t kTranslateCoordinates = 40;
inline constexpr std::uint8_t kGetInputFocus = 43;
inline constexpr std::uint8_t kQueryExtension = 98;
// The major opcode the server gives the X-Resource extension, and its client id query.
inline constexpr std::uint8_t kResourceOpcode = 140;
inline constexpr std::uint8_t kResourceQueryClientIds = 4;
// The window every property read of an answering server holds.
inline constexpr std::uint32_t kActiveWindow = 0x400001;

inline void put16(std::string& out, std::uint16_t value) {
  out.append(reinterpret_cast<const char*>(&value), 2);  // the client asked for little-endian
}
inline void put32(std::string& out, std::uint32_t value) {
  out.append(reinterpret_cast<const char*>(&value), 4);
}

// What the server says about the processes of its clients (X-Resource).
struct Resources {
  bool extension = false;     // the server has the extension
  std::uint32_t pid = 0;      // the process it gives for every window
  bool pidValue = true;       // false: it answers the query without a process value
};

// What the server does.
enum class Script {
  refuses,         // answers every connection's setup with a refusal and its reason
  answers,         // every request that has a reply gets it; every property holds one window
  noSetup,         // takes the connection and never answers its setup
  stopsBeforeReply,  // answers the setup and the atoms, then, from the first property read, nothing
  stopsMidReply,   // after the atoms, sends the first 32 bytes of a longer reply, then nothing
  longTitles,      // as answers, but every window's title (_NET_WM_NAME, WM_NAME) is 64 MB long
};

// The title of the longTitles script, and its length.
inline constexpr std::string_view kLongTitleStart = "Hostile title ";
inline constexpr std::size_t kLongTitleBytes = 64u << 20;

class ScriptedXServer {
 public:
  explicit ScriptedXServer(Script script, Resources resources = {})
      : script_(script), resources_(resources) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    for (int number = 7000 + ::getpid() % 1000; number < 9000; ++number) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
      std::memcpy(address.sun_path + 1, path.data(), path.size());  // abstract: leading NUL
      const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
      if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0) {
        display_ = ":" + std::to_string(number);
        break;
      }
    }
    ::listen(listener_, 4);
    if (::pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedXServer() {
    finish();
    for (const int fd : {listener_, client_, wake_[0], wake_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  ScriptedXServer(const ScriptedXServer&) = delete;
  ScriptedXServer& operator=(const ScriptedXServer&) = delete;

  const std::string& display() const { return display_; }
  // The most bytes of a title sent in one reply (longTitles).
  std::size_t largestTitleSent() const { return largestTitleSent_; }

  // Ends serving, once it has taken every request already written to it, and returns how
  // many requests came after the one it stopped answering.
  int finish() {
    if (thread_.joinable()) {
      [[maybe_unused]] const auto written = ::write(wake_[1], "x", 1);
      thread_.join();
    }
    return requestsAfterStopping_;
  }

 private:
  // Waits for `fd` to be readable; false once the test ends.
  bool readable(int fd) {
    pollfd fds[] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    return ::poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN) == 0;
  }

  // Reads until `in` holds `size` bytes; false once the test ends or the client is gone.
  bool fill(std::string& in, std::size_t size) {
    char buffer[4096];
    while (in.size() < size) {
      if (!readable(client_)) return false;
      const ssize_t n = ::read(client_, buffer, sizeof buffer);
      if (n <= 0) return false;
      in.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void send(const std::string& bytes) {
    [[maybe_unused]] const auto sent = ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  static std::string setupReply() {
    std::string data;
    put32(data, 1);           // release
    put32(data, 0x200000);    // resource id base
    put32(data, 0x1fffff);    // resource id mask
    put32(data, 0);           // motion buffer
    put16(data, 4);           // vendor length
    put16(data, 0xffff);      // longest request
    data += '\1';             // screens
    data += '\0';             // pixmap formats
    data.append(4, '\0');     // byte orders, scanline unit and pad
    data += '\x08';           // keycodes
    data += '\xff';
    data.append(4, '\0');
    data += "fake";           // vendor
    put32(data, 0x100);       // the screen: root
    put32(data, 0x20);        // colormap
    put32(data, 0xffffff);    // white
    put32(data, 0);           // black
    put32(data, 0);           // event masks
    put16(data, 1024);        // size in pixels and millimetres
    put16(data, 768);
    put16(data, 270);
    put16(data, 200);
    put16(data, 1);           // colormaps
    put16(data, 1);
    put32(data, 0x21);        // visual
    data += '\0';             // backing stores, save unders, depth, depths
    data += '\0';
    data += '\x18';
    data += '\0';
    std::string reply;
    reply += '\1';
    reply += '\0';
    put16(reply, 11);
    put16(reply, 0);
    put16(reply, static_cast<std::uint16_t>(data.size() / 4));
    return reply + data;
  }

  static std::string refusal() {
    const std::string reason = "No protocol specified";  // padded to 4 bytes below
    std::string reply;
    reply += '\0';
    reply += static_cast<char>(reason.size());
    put16(reply, 11);
    put16(reply, 0);
    put16(reply, static_cast<std::uint16_t>((reason.size() + 3) / 4));
    reply += reason;
    reply.append((4 - reason.size() % 4) % 4, '\0');
    return reply;
  }

  // A reply's first 32 bytes: `extra` more 4-byte units follow.
  static std::string replyHead(std::uint16_t sequence, std::uint8_t data, std::uint32_t extra,
                               std::uint32_t word8, std::uint32_t word12 = 0,
                               std::uint32_t word16 = 0) {
    std::string reply;
    reply += '\1';
    reply += static_cast<char>(data);
    put16(reply, sequence);
    put32(reply, extra);
    put32(reply, word8);
    put32(reply, word12);
    put32(reply, word16);
    reply.append(12, '\0');
    return reply;
  }

  void serve() {
    if (!readable(listener_)) return;
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    while (script_ == Script::refuses) {
      std::string setup;
      if (fill(setup, 12)) send(refusal());
      ::close(client_);
      client_ = -1;
      if (!readable(listener_)) return;
      client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    std::string in;
    // The setup request: 12 bytes, then the authorization's name and data, each padded.
    if (!fill(in, 12)) return;
    const auto padded = [](std::uint16_t n) { return (n + 3u) & ~3u; };
    std::uint16_t nameLength = 0;
    std::uint16_t dataLength = 0;
    std::memcpy(&nameLength, in.data() + 6, 2);
    std::memcpy(&dataLength, in.data() + 8, 2);
    const std::size_t setupSize = 12 + padded(nameLength) + padded(dataLength);
    if (!fill(in, setupSize)) return;
    in.erase(0, setupSize);
    if (script_ == Script::noSetup) {
      while (readable(client_)) {
        char buffer[256];
        if (::read(client_, buffer, sizeof buffer) <= 0) return;
      }
      return;
    }
    send(setupReply());

    // Requests are served as they come; once the test ends, those already written are
    // taken too.
    for (;;) {
      while (takeRequest(in)) {
      }
      char buffer[4096];
      if (!readable(client_)) {
        ssize_t n = 0;
        while ((n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
          in.append(buffer, static_cast<std::size_t>(n));
        }
        while (takeRequest(in)) {
        }
        return;
      }
      const ssize_t n = ::read(client_, buffer, sizeof buffer);
      if (n <= 0) return;
      in.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Serves the first request `in` holds whole; false when it holds none.
  bool takeRequest(std::string& in) {
    if (in.size() < 4) return false;
    std::uint16_t units = 0;
    std::memcpy(&units, in.data() + 2, 2);
    const std::size_t size = std::size_t{units} * 4;
    if (size < 4) {
      in.clear();  // not a request this server knows how to read
      return false;
    }
    if (in.size() < size) return false;
    const auto opcode = static_cast<std::uint8_t>(in[0]);
    const auto minor = static_cast<std::uint8_t>(in[1]);
    const std::string request = in.substr(0, size);
    in.erase(0, size);
    ++sequence_;
    if (!answering_) {
      ++requestsAfterStopping_;
    } else if (opcode == kInternAtom) {
      std::uint16_t nameLength = 0;
      std::memcpy(&nameLength, request.data() + 4, 2);
      if (request.size() >= 8u + nameLength) {
        const std::string name = request.substr(8, nameLength);
        if (name == "_NET_WM_NAME") netWmName_ = 0x1000u + sequence_;
        if (name == "UTF8_STRING") utf8String_ = 0x1000u + sequence_;
      }
      send(replyHead(sequence_, 0, 0, 0x1000u + sequence_));
    } else if (opcode == kQueryExtension) {
      std::uint16_t nameLength = 0;
      std::memcpy(&nameLength, request.data() + 4, 2);
      const bool present = resources_.extension && request.size() >= 8u + nameLength &&
                           request.compare(8, nameLength, "X-Resource") == 0;
      // present, major opcode, first event, first error
      send(replyHead(sequence_, 0, 0, present ? 1u | (std::uint32_t{kResourceOpcode} << 8) : 0u));
    } else if (opcode == kResourceOpcode && minor == kResourceQueryClientIds &&
               request.size() >= 16) {
      std::uint32_t client = 0;
      std::memcpy(&client, request.data() + 8, 4);
      // One value: the local client process (mask 2), 4 bytes; or only the client's XID.
      std::string reply = replyHead(sequence_, 0, 4, 1);
      put32(reply, client);
      put32(reply, resources_.pidValue ? 2 : 1);
      put32(reply, 4);
      put32(reply, resources_.pidValue ? resources_.pid : client & 0xffe00000u);
      send(reply);
    } else if (script_ == Script::longTitles && opcode == kGetProperty && request.size() >= 24 &&
               isTitle(request)) {
      sendTitle(request);
    } else if (script_ == Script::stopsBeforeReply && opcode == kGetProperty) {
      answering_ = false;
    } else if (script_ == Script::stopsMidReply && opcode == kGetProperty) {
      send(replyHead(sequence_, 32, 1, 33, 0, 1));  // the value's 4 bytes never come
      answering_ = false;
    } else if (opcode == kGetProperty) {
      std::string reply = replyHead(sequence_, 32, 1, 33, 0, 1);  // one WINDOW
      put32(reply, kActiveWindow);
      send(reply);
    } else if (opcode == kGetInputFocus || opcode == kGetGeometry ||
               opcode == kGetWindowAttributes || opcode == kTranslateCoordinates) {
      send(replyHead(sequence_, 0, 0, 0));
    }
    return true;
  }

  static constexpr std::uint32_t kWmName = 39;  // the predefined WM_NAME atom
  static constexpr std::uint32_t kString = 31;  // the predefined STRING atom

  bool isTitle(const std::string& request) const {
    std::uint32_t property = 0;
    std::memcpy(&property, request.data() + 8, 4);
    return property == kWmName || (netWmName_ != 0 && property == netWmName_);
  }

  // As much of the title as asked for (offset and length in 32-bit units), and what is left.
  void sendTitle(const std::string& request) {
    std::uint32_t property = 0, offset = 0, length = 0;
    std::memcpy(&property, request.data() + 8, 4);
    std::memcpy(&offset, request.data() + 16, 4);
    std::memcpy(&length, request.data() + 20, 4);
    const std::size_t start = std::min<std::size_t>(std::size_t{offset} * 4, kLongTitleBytes);
    const std::size_t count =
        std::min<std::size_t>(std::size_t{length} * 4, kLongTitleBytes - start);
    std::string value(count, 'x');
    for (std::size_t i = start; i < kLongTitleStart.size() && i - start < count; ++i) {
      value[i - start] = kLongTitleStart[i];
    }
    const auto padded = static_cast<std::uint32_t>((count + 3) / 4);
    const std::uint32_t type = property == kWmName ? kString : utf8String_;
    std::string reply = replyHead(sequence_, 8, padded, type,
                                  static_cast<std::uint32_t>(kLongTitleBytes - start - count),
                                  static_cast<std::uint32_t>(count));
    value.resize(std::size_t{padded} * 4, '\0');
    send(reply + value);
    largestTitleSent_ = std::max(largestTitleSent_.load(), count);
  }

  Script script_;
  Resources resources_;
  std::uint32_t netWmName_ = 0;
  std::uint32_t utf8String_ = 0;
  std::atomic<std::size_t> largestTitleSent_{0};
  int listener_ = -1;
  int client_ = -1;
  int wake_[2] = {-1, -1};
  std::string display_;
  std::uint16_t sequence_ = 0;
  bool answering_ = true;
  int requestsAfterStopping_ = 0;
  std::thread thread_;
};

}  // namespace nevo::test
