#include "app/emit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

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

}  // namespace
}  // namespace nevo
