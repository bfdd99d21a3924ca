// Reply matching on a scripted connection: calls go out at once, replies come back in any
// order, mixed with signals and strays, and each reaches the handler of its own call.
#include "platform/linux/dbus_link.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "platform/linux/atspi_wire.h"

namespace nevo::lin {
namespace {

class ScriptedTransport final : public Transport {
 public:
  std::uint32_t send(DBusMessage&) override {
    if (refuse) return 0;
    sent.push_back(nextSerial);
    return nextSerial++;
  }
  Message pop() override {
    if (inbox.empty()) return nullptr;
    Message message = std::move(inbox.front());
    inbox.pop_front();
    return message;
  }
  int descriptor() const override { return -1; }
  bool wantsWrite() const override { return false; }
  bool pump() override { return true; }
  bool open() const override { return true; }

  std::uint32_t nextSerial = 1;
  bool refuse = false;
  std::vector<std::uint32_t> sent;
  std::deque<Message> inbox;
};

// A call with the given serial, as the other side would have received it.
Message callWithSerial(std::uint32_t serial) {
  Message call =
      methodCall("org.a11y.atspi.Registry", "/x", "org.a11y.atspi.Accessible", "GetRole");
  dbus_message_set_serial(call.get(), serial);
  return call;
}

Message roleReply(std::uint32_t serial, std::uint32_t role) {
  Message call = callWithSerial(serial);
  Message reply(dbus_message_new_method_return(call.get()));
  dbus_message_append_args(reply.get(), DBUS_TYPE_UINT32, &role, DBUS_TYPE_INVALID);
  return reply;
}

Message errorReply(std::uint32_t serial) {
  Message call = callWithSerial(serial);
  return Message(
      dbus_message_new_error(call.get(), "org.freedesktop.DBus.Error.UnknownMethod", "no"));
}

Message signal() {
  return Message(dbus_message_new_signal("/x", "org.a11y.atspi.Event.Object", "StateChanged"));
}

struct Fixture {
  Fixture() {
    auto owned = std::make_unique<ScriptedTransport>();
    transport = owned.get();
    link = std::make_unique<Link>(std::move(owned));
  }
  // Sends a GetRole call that records the role it gets back (0 for an error).
  void ask(std::vector<std::pair<int, std::uint32_t>>& answers, int id) {
    Message call = getRoleCall(ObjectRef{":1.5", "/org/a11y/atspi/accessible/7"});
    ASSERT_TRUE(call);
    ASSERT_TRUE(link->call(*call, [&answers, id](DBusMessage& reply) {
      answers.emplace_back(id, uint32Reply(reply).value_or(0));
    }));
  }
  ScriptedTransport* transport;
  std::unique_ptr<Link> link;
};

TEST(Link, RepliesReachTheHandlerOfTheirOwnCallInWhateverOrderTheyCome) {
  Fixture f;
  std::vector<std::pair<int, std::uint32_t>> answers;
  for (int id = 0; id < 3; ++id) f.ask(answers, id);
  ASSERT_EQ(f.transport->sent, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_TRUE(f.link->waiting());

  // Out of order, with a signal, a stray reply and an error among them.
  f.transport->inbox.push_back(roleReply(3, 43));
  f.transport->inbox.push_back(signal());
  f.transport->inbox.push_back(roleReply(99, 7));
  f.transport->inbox.push_back(errorReply(1));
  f.transport->inbox.push_back(roleReply(2, 61));
  Link* links[] = {f.link.get()};
  EXPECT_TRUE(serveLinks(
      links, [&] { return answers.size() == 3; }, monotonicNow() + 1));

  EXPECT_EQ(answers, (std::vector<std::pair<int, std::uint32_t>>{{2, 43}, {0, 0}, {1, 61}}));
  EXPECT_FALSE(f.link->waiting());
}

TEST(Link, ACallThatIsNeverAnsweredEndsTheWaitAtTheDeadlineAndStaysOwed) {
  Fixture f;
  std::vector<std::pair<int, std::uint32_t>> answers;
  f.ask(answers, 0);
  f.ask(answers, 1);
  f.transport->inbox.push_back(roleReply(2, 29));
  Link* links[] = {f.link.get()};
  EXPECT_FALSE(serveLinks(
      links, [&] { return answers.size() == 2; }, monotonicNow() - 1));
  EXPECT_EQ(answers, (std::vector<std::pair<int, std::uint32_t>>{{1, 29}}));
  EXPECT_TRUE(f.link->waiting());

  // A late reply still reaches its handler; a second one for the same serial does not.
  f.transport->inbox.push_back(roleReply(1, 40));
  f.transport->inbox.push_back(roleReply(1, 41));
  f.link->drain();
  EXPECT_EQ(answers.back(), (std::pair<int, std::uint32_t>{0, 40}));
  EXPECT_EQ(answers.size(), 2u);
}

TEST(Link, AHandlerMaySendFurtherCallsWhileRepliesAreServed) {
  Fixture f;
  std::vector<std::pair<int, std::uint32_t>> answers;
  Message first = getRoleCall(ObjectRef{":1.5", "/a"});
  ASSERT_TRUE(f.link->call(*first, [&](DBusMessage&) {
    answers.emplace_back(0, 0);
    f.ask(answers, 1);  // serial 2, answered below in the same drain
  }));
  f.transport->inbox.push_back(roleReply(1, 1));
  f.transport->inbox.push_back(roleReply(2, 16));
  f.link->drain();
  EXPECT_EQ(answers, (std::vector<std::pair<int, std::uint32_t>>{{0, 0}, {1, 16}}));
}

TEST(Link, ACallThatCannotBeQueuedIsRefusedAndNeverAnswered) {
  Fixture f;
  f.transport->refuse = true;
  bool ran = false;
  Message call = getRoleCall(ObjectRef{":1.5", "/a"});
  EXPECT_FALSE(f.link->call(*call, [&](DBusMessage&) { ran = true; }));
  EXPECT_FALSE(f.link->waiting());
  f.transport->inbox.push_back(roleReply(1, 1));
  f.link->drain();
  EXPECT_FALSE(ran);
}

TEST(MethodCall, NamesThatAreNotValidDbusSyntaxGiveNoMessage) {
  EXPECT_TRUE(
      methodCall(":1.5", "/org/a11y/atspi/accessible/1", "org.a11y.atspi.Accessible", "GetRole"));
  EXPECT_FALSE(methodCall("not a name", "/a", "org.a11y.atspi.Accessible", "GetRole"));
  EXPECT_FALSE(methodCall(":1.5", "no-slash", "org.a11y.atspi.Accessible", "GetRole"));
  EXPECT_FALSE(methodCall(":1.5", "/a/", "org.a11y.atspi.Accessible", "GetRole"));
  EXPECT_FALSE(
      methodCall(std::string_view(":1.5\0x", 6), "/a", "org.a11y.atspi.Accessible", "GetRole"));
  EXPECT_FALSE(getRoleCall(ObjectRef{"", "/a"}));
  EXPECT_FALSE(getRoleCall(ObjectRef{":1.5", ""}));
}

}  // namespace
}  // namespace nevo::lin
