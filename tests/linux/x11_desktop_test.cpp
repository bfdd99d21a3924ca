// The X11 side against a scripted X server on an abstract Unix socket: what it reads from a
// server that answers, and that every read ends when the server stops answering, wherever
// it stops (before the connection setup, before a reply, in the middle of one).
#include "platform/linux/x11_desktop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/dbus_link.h"

namespace nevo::lin {
namespace {

constexpr std::uint8_t kGetWindowAttributes = 3;
constexpr std::uint8_t kGetGeometry = 14;
constexpr std::uint8_t kInternAtom = 16;
constexpr std::uint8_t kGetProperty = 20;
constexpr std::uint8_t kTranslateCoordinates = 40;
constexpr std::uint8_t kGetInputFocus = 43;
constexpr std::uint32_t kActiveWindow = 0x400001;

void put16(std::string& out, std::uint16_t value) {
  out.append(reinterpret_cast<const char*>(&value), 2);  // the client asked for little-endian
}
void put32(std::string& out, std::uint32_t value) {
  out.append(reinterpret_cast<const char*>(&value), 4);
}

// What the server does.
enum class Script {
  answers,         // every request that has a reply gets it; every property holds one window
  noSetup,         // takes the connection and never answers its setup
  stopsBeforeReply,  // answers the setup and the atoms, then, from the first property read, nothing
  stopsMidReply,   // after the atoms, sends the first 32 bytes of a longer reply, then nothing
};

class ScriptedXServer {
 public:
  explicit ScriptedXServer(Script script) : script_(script) {
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
    in.erase(0, size);
    ++sequence_;
    if (!answering_) {
      ++requestsAfterStopping_;
    } else if (opcode == kInternAtom) {
      send(replyHead(sequence_, 0, 0, 0x1000u + sequence_));
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

  Script script_;
  int listener_ = -1;
  int client_ = -1;
  int wake_[2] = {-1, -1};
  std::string display_;
  std::uint16_t sequence_ = 0;
  bool answering_ = true;
  int requestsAfterStopping_ = 0;
  std::thread thread_;
};

// DISPLAY names the scripted server for the test's duration; no authorization is looked up.
class X11DesktopTest : public ::testing::Test {
 protected:
  void use(const ScriptedXServer& server) {
    ASSERT_FALSE(server.display().empty()) << "no free display number";
    ::setenv("DISPLAY", server.display().c_str(), 1);
    ::setenv("XAUTHORITY", "/nonexistent", 1);
  }
  void TearDown() override {
    restore("DISPLAY", display_);
    restore("XAUTHORITY", authority_);
  }

 private:
  static std::optional<std::string> saved(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  static void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::optional<std::string> display_ = saved("DISPLAY");
  std::optional<std::string> authority_ = saved("XAUTHORITY");
};

TEST_F(X11DesktopTest, ReadsWhatTheServerAnswers) {
  ScriptedXServer server(Script::answers);
  use(server);
  std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->activeWindow(), std::optional<xcb_window_t>(kActiveWindow));
  EXPECT_EQ(display->windowPid(kActiveWindow), 0) << "a WINDOW value is no process";
}

TEST_F(X11DesktopTest, NoSetupAnswerMeansNoDisplay) {
  ScriptedXServer server(Script::noSetup);
  use(server);
  EXPECT_EQ(X11Desktop::connect(monotonicNow() + 0.2), nullptr);
}

// A server that stops before a reply, or in the middle of one (xcb then waits for the rest
// of it, without end, unless its socket is shut down): the read ends absent, and nothing is
// asked of the server again, beyond the request that marks the end of the exchange it did
// not answer.
TEST_F(X11DesktopTest, AServerThatStopsAnsweringEndsEveryRead) {
  for (const Script script : {Script::stopsBeforeReply, Script::stopsMidReply}) {
    SCOPED_TRACE(script == Script::stopsBeforeReply ? "stops before a reply"
                                                    : "stops in the middle of a reply");
    ScriptedXServer server(script);
    use(server);
    std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 5);
    ASSERT_NE(display, nullptr) << "the atoms were answered";
    EXPECT_EQ(display->activeWindow(), std::nullopt);
    EXPECT_TRUE(display->clientWindows().empty());
    EXPECT_EQ(display->accessibilityBusAddress(), "");
    EXPECT_EQ(display->windowPid(kActiveWindow), 0);
    EXPECT_FALSE(display->requestRaise(kActiveWindow));
    EXPECT_EQ(server.finish(), 1);
  }
}

}  // namespace
}  // namespace nevo::lin
