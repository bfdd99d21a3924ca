// Links over a socket pair, the test playing the other side with libdbus's messages: calls
// go out at once, replies come back in any order, split anywhere, mixed with signals and
// strays, and each reaches the handler of its own call; the handshake; a side that goes
// away or never stops writing.
#include "platform/linux/dbus_link.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "dbus_reference.h"
#include "platform/linux/atspi_wire.h"

namespace nevo::lin {
namespace {

using test::LibdbusMessage;

LibdbusMessage roleReply(std::uint32_t serial, std::uint32_t role) {
  LibdbusMessage reply = test::methodReturn(serial);
  dbus_message_append_args(reply.get(), DBUS_TYPE_UINT32, &role, DBUS_TYPE_INVALID);
  return reply;
}

// The other side of a link: reads what the link sent, writes what the test says.
class OtherSide {
 public:
  explicit OtherSide(bool authenticate = false) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    link = Link::overSocket(fds[0], authenticate);
    socket_ = fds[1];
  }
  ~OtherSide() {
    if (socket_ >= 0) ::close(socket_);
  }

  void write(const std::string& bytes) const {
    ASSERT_EQ(::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void write(DBusMessage& message) const { write(test::marshal(message)); }
  // Everything the link has written so far (after letting it write).
  std::string received() {
    link->pump();
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) break;
      input_.append(buffer, static_cast<std::size_t>(n));
    }
    return input_;
  }
  void close() {
    ::close(socket_);
    socket_ = -1;
  }
  int socket() const { return socket_; }

  std::unique_ptr<Link> link;

 private:
  int socket_ = -1;
  std::string input_;
};

using Answers = std::vector<std::pair<int, std::uint32_t>>;

// Queues a GetRole call that records the role it gets back (0 for an error).
void ask(Link& link, Answers& answers, int id) {
  ASSERT_TRUE(link.call(getRoleCall(ObjectRef{":1.5", "/org/a11y/atspi/accessible/7"}),
                        [&answers, id](const ReceivedMessage& reply) {
                          answers.emplace_back(id, uint32Reply(reply).value_or(0));
                        }));
}

bool serve(Link& link, const std::function<bool()>& done, double seconds) {
  Link* links[] = {&link};
  return serveLinks(links, done, monotonicNow() + seconds);
}

TEST(Link, RepliesReachTheHandlerOfTheirOwnCallInWhateverOrderTheyCome) {
  OtherSide side;
  Answers answers;
  for (int id = 0; id < 3; ++id) ask(*side.link, answers, id);
  // Queued calls go out together, in order, with serials 1, 2, 3.
  const std::string sent = side.received();
  std::size_t at = 0;
  for (std::uint32_t serial = 1; serial <= 3; ++serial) {
    const std::optional<std::size_t> length = messageLength(std::string_view(sent).substr(at));
    ASSERT_TRUE(length && *length > 0);
    const LibdbusMessage call = test::demarshal(sent.substr(at, *length));
    std::uint32_t written = 0;
    std::memcpy(&written, sent.data() + at + 8, sizeof written);
    EXPECT_EQ(written, serial);
    ASSERT_TRUE(call);
    EXPECT_STREQ(dbus_message_get_member(call.get()), "GetRole");
    at += *length;
  }
  EXPECT_EQ(at, sent.size());
  EXPECT_EQ(side.link->outstanding(), 3u);

  // Out of order, with a signal, a stray reply and an error among them, all in one write.
  std::string replies;
  for (DBusMessage* message :
       {roleReply(3, 43).release(), test::signalMessage().release(), roleReply(99, 7).release(),
        test::errorReply(1).release(), roleReply(2, 61).release()}) {
    replies += test::marshal(*message);
    dbus_message_unref(message);
  }
  side.write(replies);
  EXPECT_TRUE(serve(
      *side.link, [&] { return answers.size() == 3; }, 5));
  EXPECT_EQ(answers, (Answers{{2, 43}, {0, 0}, {1, 61}}));
  EXPECT_FALSE(side.link->waiting());
}

TEST(Link, RepliesSplitAnywhereAreTakenWhole) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);
  ask(*side.link, answers, 1);
  side.received();
  const std::string replies = test::marshal(*roleReply(1, 29)) + test::marshal(*roleReply(2, 30));
  for (const char byte : replies) {
    side.write(std::string(1, byte));
    side.link->pump();
  }
  EXPECT_EQ(answers, (Answers{{0, 29}, {1, 30}}));
}

TEST(Link, ACallThatIsNeverAnsweredEndsTheWaitAtTheDeadlineAndStaysOwed) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);
  ask(*side.link, answers, 1);
  side.write(*roleReply(2, 29));
  EXPECT_FALSE(serve(
      *side.link, [&] { return answers.size() == 2; }, 0.02));
  EXPECT_EQ(answers, (Answers{{1, 29}}));
  EXPECT_TRUE(side.link->waiting());

  // A late reply still reaches its handler; a second one for the same serial does not.
  side.write(*roleReply(1, 40));
  side.write(*roleReply(1, 41));
  side.link->pump();
  EXPECT_EQ(answers, (Answers{{1, 29}, {0, 40}}));
}

TEST(Link, AHandlerMayQueueFurtherCallsWhileRepliesAreServed) {
  OtherSide side;
  Answers answers;
  ASSERT_TRUE(side.link->call(getRoleCall(ObjectRef{":1.5", "/a"}), [&](const ReceivedMessage&) {
    answers.emplace_back(0, 0);
    ask(*side.link, answers, 1);  // serial 2
  }));
  side.write(*roleReply(1, 1));
  side.link->pump();
  // The call the handler queued has gone out already.
  const std::string sent = side.received();
  const std::size_t first = *messageLength(sent);
  EXPECT_EQ(first + *messageLength(std::string_view(sent).substr(first)), sent.size());
  side.write(*roleReply(2, 16));
  EXPECT_TRUE(serve(
      *side.link, [&] { return answers.size() == 2; }, 5));
  EXPECT_EQ(answers, (Answers{{0, 0}, {1, 16}}));
}

TEST(Link, TheHandshakeGoesFirstAndCallsFollowItAtOnce) {
  OtherSide side(true);
  Answers answers;
  EXPECT_FALSE(side.link->ready());
  ask(*side.link, answers, 0);
  const std::string sent = side.received();
  const std::string request = authenticationRequest(::getuid());
  ASSERT_EQ(sent.substr(0, request.size()), request);
  EXPECT_TRUE(test::demarshal(sent.substr(request.size())));

  side.write("OK 1234deadbeef\r\n" + test::marshal(*roleReply(1, 23)));
  EXPECT_TRUE(serve(
      *side.link, [&] { return !answers.empty(); }, 5));
  EXPECT_TRUE(side.link->ready());
  EXPECT_EQ(answers, (Answers{{0, 23}}));
}

TEST(Link, ARefusedHandshakeClosesTheLinkAndEndsTheWait) {
  OtherSide side(true);
  Answers answers;
  ask(*side.link, answers, 0);
  side.received();
  side.write("REJECTED EXTERNAL\r\n");
  // The wait ends as soon as the link is known to be closed, long before its deadline: the
  // call fails then.
  EXPECT_TRUE(serve(
      *side.link, [&] { return !answers.empty(); }, 60));
  EXPECT_EQ(answers, (Answers{{0, 0}}));
  EXPECT_FALSE(side.link->open());
  EXPECT_FALSE(side.link->ready());
  EXPECT_FALSE(
      side.link->call(getRoleCall(ObjectRef{":1.5", "/a"}), [](const ReceivedMessage&) {}));
}

TEST(Link, ALinkWhoseOtherSideHasGoneFailsItsCallsRefusesMoreAndEndsWaits) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);
  std::vector<bool> closed;
  ASSERT_TRUE(side.link->call(getRoleCall(ObjectRef{":1.5", "/b"}),
                              [&](const ReceivedMessage& reply) {
                                closed.push_back(reply.linkClosed);
                                answers.emplace_back(1, uint32Reply(reply).value_or(0));
                              }));
  side.received();
  side.write(*roleReply(1, 12));
  side.close();
  EXPECT_TRUE(serve(
      *side.link, [&] { return answers.size() == 2; }, 60));
  // What it said before it went is still taken; the call it left unanswered fails, marked
  // as failed by the link (it may be asked again elsewhere).
  EXPECT_EQ(answers, (Answers{{0, 12}, {1, 0}}));
  EXPECT_EQ(closed, std::vector<bool>{true});
  EXPECT_FALSE(side.link->open());
  EXPECT_FALSE(side.link->waiting());
  EXPECT_FALSE(
      side.link->call(getRoleCall(ObjectRef{":1.5", "/a"}), [](const ReceivedMessage&) {}));
}

TEST(Link, AStreamThatIsNotMessagesClosesTheLink) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);
  side.write(std::string("Xgarbage that is not a message header"));
  EXPECT_TRUE(serve(
      *side.link, [&] { return !answers.empty(); }, 60));
  EXPECT_EQ(answers, (Answers{{0, 0}}));
  EXPECT_FALSE(side.link->open());
}

// A reply longer than any the backend reads (the protocol allows 128 MiB) is passed over by
// its length as it comes, never held whole: its call fails, the link stays open and what
// follows is read; a long reply that is read is held once, and its room given back.
TEST(Link, AnOversizedReplyIsPassedOverAndALongOnesRoomIsGivenBack) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);  // serial 1: answered with too much
  ask(*side.link, answers, 1);  // serial 2: answered with a role after it
  ask(*side.link, answers, 2);  // serial 3: a long reply that is read
  side.received();
  const auto bytesReply = [](std::uint32_t serial, std::size_t size) {
    LibdbusMessage reply = test::methodReturn(serial);
    const std::string bytes(size, 'x');
    const char* data = bytes.data();
    dbus_message_append_args(reply.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &data,
                             static_cast<int>(size), DBUS_TYPE_INVALID);
    return test::marshal(*reply);
  };
  const std::string stream = bytesReply(1, kMessageSizeLimit + 1) + test::marshal(*roleReply(2, 7)) +
                             bytesReply(3, kMessageSizeLimit - 4096);
  std::thread writer([&] {
    std::size_t at = 0;
    while (at < stream.size()) {
      const ssize_t n = ::send(side.socket(), stream.data() + at, stream.size() - at, MSG_NOSIGNAL);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
  });
  std::size_t largest = 0;
  Link* links[] = {side.link.get()};
  const double deadline = monotonicNow() + 60;
  while (answers.size() < 3 && monotonicNow() < deadline) {
    serveLinks(
        links, [&] { return true; }, deadline);
    largest = std::max(largest, side.link->receiveCapacity());
  }
  writer.join();
  EXPECT_EQ(answers, (Answers{{0, 0}, {1, 7}, {2, 0}}));
  EXPECT_TRUE(side.link->open());
  // The passed-over reply was never held, and the long one was held once, at its length.
  EXPECT_GT(largest, kMessageSizeLimit - 4096);
  EXPECT_LT(largest, kMessageSizeLimit + (1u << 20));
  EXPECT_LE(side.link->receiveCapacity(), 256u * 1024);
}

TEST(Link, AWaitEndsAtItsDeadlineWhileTheOtherSideNeverStopsWriting) {
  OtherSide side;
  Answers answers;
  ask(*side.link, answers, 0);
  std::atomic<bool> stop{false};
  const std::string signal = test::marshal(*test::signalMessage());
  std::thread writer([&] {
    const int fd = side.socket();
    while (!stop) ::send(fd, signal.data(), signal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  });
  EXPECT_FALSE(serve(
      *side.link, [&] { return !answers.empty(); }, 0.05));
  stop = true;
  writer.join();
  EXPECT_TRUE(side.link->open());
}

TEST(Addresses, UnixSocketsAreTakenInOrderAndUnescaped) {
  struct Case {
    std::string_view addresses;
    std::vector<std::string> sockets;
  };
  const Case cases[] = {
      {"unix:path=/run/user/1000/at-spi/bus_0,guid=0123", {"/run/user/1000/at-spi/bus_0"}},
      {"unix:abstract=/tmp/dbus-XYZ,guid=1", {std::string("\0/tmp/dbus-XYZ", 14)}},
      {"tcp:host=localhost,port=1;unix:path=/a%20b%2c", {"/a b,"}},
      {"unix:path=/x;unix:abstract=y", {"/x", std::string("\0y", 2)}},
      {"unix:tmpdir=/tmp", {}},
      {"unix:path=/bad%zz", {}},
      {"unix:path=/bad%2", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.addresses));
    EXPECT_EQ(unixSocketAddresses(c.addresses), c.sockets);
  }
  EXPECT_EQ(authenticationRequest(1000), std::string("\0AUTH EXTERNAL 31303030\r\nBEGIN\r\n", 32));
}

TEST(Addresses, ALinkConnectsToTheFirstSocketThatAccepts) {
  char directory[] = "/tmp/nevo-link-test-XXXXXX";
  ASSERT_NE(::mkdtemp(directory), nullptr);
  const std::string path = std::string(directory) + "/bus";
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);

  EXPECT_FALSE(Link::connect("unix:path=" + std::string(directory) + "/nothing"));
  EXPECT_FALSE(Link::connect("tcp:host=localhost,port=1"));
  std::unique_ptr<Link> link =
      Link::connect("unix:path=" + std::string(directory) + "/nothing;unix:path=" + path);
  ASSERT_TRUE(link);
  EXPECT_TRUE(link->open());
  EXPECT_FALSE(link->ready());  // until the other side accepts the handshake

  link.reset();
  ::close(listener);
  ::unlink(path.c_str());
  ::rmdir(directory);
}

}  // namespace
}  // namespace nevo::lin
