#include "reply/emit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>

namespace nevo {
namespace {

TEST(SerializeReply, SortsKeysAtEveryLevelAndWritesCompactly) {
  Reply reply = {{"status", "available"},
                 {"window", {{"title", "T"}, {"bounds", {{"y", 2}, {"x", 1}, {"width", 3.5}}}}},
                 {"elements", Reply::array({{{"zeta", true}, {"alpha", false}}})},
                 {"app", {{"pid", 812}, {"bundleId", ""}}}};
  EXPECT_EQ(serializeReply(reply),
            R"({"app":{"bundleId":"","pid":812},"elements":[{"alpha":false,"zeta":true}],)"
            R"("status":"available","window":{"bounds":{"width":3.5,"x":1,"y":2},"title":"T"}})");
}

TEST(SerializeReply, WritesUtf8AsItIsAndEscapesTheSolidus) {
  const Reply reply = {{"title", "文件/编辑 — ½ \xF0\x9F\x98\x80"}, {"a/b", "</script>"}};
  EXPECT_EQ(serializeReply(reply),
            "{\"a\\/b\":\"<\\/script>\",\"title\":\"文件\\/编辑 — ½ \xF0\x9F\x98\x80\"}");
}

TEST(SerializeReply, KeepsTheReplyOnOneLine) {
  const Reply reply = {{"title", "two\nlines\r\tand \x01 control"}};
  const auto line = serializeReply(reply);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->find('\n'), std::string::npos);
  EXPECT_EQ(*line, R"({"title":"two\nlines\r\tand \u0001 control"})");
}

TEST(SerializeReply, WritesNothingForValuesTheWriterCannotTake) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(serializeReply({{"bounds", {{"x", nan}}}}).has_value());
  EXPECT_FALSE(
      serializeReply({{"list", {1.0, std::numeric_limits<double>::infinity()}}}).has_value());
  EXPECT_FALSE(serializeReply({{"title", "broken \xC3"}}).has_value());
  EXPECT_FALSE(serializeReply({{"title\xFF", "key"}}).has_value());
}

TEST(SerializeReply, NumbersReadBackToTheSameDouble) {
  std::mt19937_64 random(812);
  std::uniform_real_distribution<double> coordinates(-5000, 5000);
  for (int i = 0; i < 2000; ++i) {
    double value = coordinates(random);
    if (i % 3 == 0) {
      std::uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof value);
      if (!std::isfinite(value)) continue;
    }
    const auto line = serializeReply({{"x", value}});
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(Reply::parse(*line)["x"].get<double>(), value) << *line;
  }
  EXPECT_EQ(serializeReply({{"pid", 2147483647}}), R"({"pid":2147483647})");
  EXPECT_EQ(serializeReply({{"x", 0.1}, {"y", -0.0}}), R"({"x":0.1,"y":-0.0})");
}

// A reader on the other end of a pipe that takes its time: it reads small pieces with a
// pause between them until the writer closes its end, and keeps what it read.
class SlowReader {
 public:
  explicit SlowReader(int fd)
      : thread_([this, fd] {
          char piece[1000];
          for (ssize_t n; (n = read(fd, piece, sizeof piece)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            received_.append(piece, static_cast<std::size_t>(n));
            std::this_thread::sleep_for(std::chrono::microseconds(50));
          }
        }) {}
  std::string finish() {
    thread_.join();
    return received_;
  }

 private:
  std::string received_;
  std::thread thread_;
};

TEST(WriteAll, SlowAndNonBlockingReadersReceiveExactlyOneWholeLine) {
  // Far more than a pipe holds, so the writer meets a full pipe many times over.
  Reply reply = {{"status", "available"}, {"windows", Reply::array()}};
  for (int i = 0; i < 400; ++i) {
    reply["windows"].push_back({{"title", std::string(1000, static_cast<char>('a' + i % 26))}});
  }
  const std::string line = *serializeReply(reply) + "\n";
  ASSERT_GT(line.size(), 65536u * 4);
  for (const bool nonBlocking : {false, true}) {
    SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    if (nonBlocking) {
      ASSERT_EQ(fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK), 0);
    }
    SlowReader reader(ends[0]);
    EXPECT_TRUE(writeAll(ends[1], line));
    close(ends[1]);
    const std::string received = reader.finish();
    close(ends[0]);
    EXPECT_EQ(received.size(), line.size());
    EXPECT_TRUE(received == line);
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 1);
  }
}

TEST(WriteAll, StopsWhenTheReaderIsGone) {
  signal(SIGPIPE, SIG_IGN);  // as the tool does: a vanished host is an error, not a death
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  EXPECT_FALSE(writeAll(ends[1], "{}\n"));
  close(ends[1]);
}

}  // namespace
}  // namespace nevo
