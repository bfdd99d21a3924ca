#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace nevo {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += piece;
  return s;
}

// A family emoji: four people joined by zero-width joiners, eleven code points.
const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F"
    "\x91\xA6";

TEST(GraphemePrefix, CutsAtUserPerceivedCharacters) {
  EXPECT_EQ(graphemePrefix(repeat("a", 301), 300), repeat("a", 300));
  EXPECT_EQ(graphemePrefix(repeat(kFamily, 300), 300), repeat(kFamily, 300));
  EXPECT_EQ(graphemePrefix(repeat(kFamily, 301), 300), repeat(kFamily, 300));
  // "e" + combining acute: never split between letter and mark.
  EXPECT_EQ(graphemePrefix("ae\xCC\x81"
                           "b",
                           2),
            "ae\xCC\x81");
  EXPECT_EQ(graphemePrefix("\r\nx", 1), "\r\n");
  EXPECT_EQ(graphemePrefix("", 3), "");
  EXPECT_EQ(graphemePrefix("  padded  ", 300), "  padded  ");
}

TEST(GraphemePrefix, TreatsInvalidBytesAsSingleCharacters) {
  EXPECT_EQ(graphemePrefix("\xFF\xFEz", 2), "\xFF\xFE");
}

TEST(LongerThan, CountsClustersNotBytes) {
  EXPECT_FALSE(longerThan(repeat("a", 300), 300));
  EXPECT_TRUE(longerThan(repeat("a", 301), 300));
  EXPECT_FALSE(longerThan(repeat(kFamily, 300), 300));
  EXPECT_TRUE(longerThan(repeat(kFamily, 301), 300));
  EXPECT_FALSE(longerThan("", 0));
  EXPECT_TRUE(longerThan("x", 0));
}

TEST(CanonicallyEqual, MatchesPrecomposedAndDecomposedForms) {
  EXPECT_TRUE(canonicallyEqual("caf\xC3\xA9", "cafe\xCC\x81"));
  EXPECT_TRUE(canonicallyEqual("", ""));
  EXPECT_FALSE(canonicallyEqual("cafe", "caf\xC3\xA9"));
  EXPECT_FALSE(canonicallyEqual("abc", "abd"));
  // Compatibility forms are not canonical: the ligature "ﬁ" is not "fi".
  EXPECT_FALSE(canonicallyEqual("\xEF\xAC\x81", "fi"));
  // A string that is not valid UTF-8 equals only itself.
  EXPECT_TRUE(canonicallyEqual("a\xFF", "a\xFF"));
  EXPECT_FALSE(canonicallyEqual("a\xFF", "a\xFE"));
  // Embedded NUL characters take part in the comparison.
  EXPECT_FALSE(canonicallyEqual(std::string("a\0b", 3), std::string("a\0c", 3)));
}

}  // namespace
}  // namespace nevo
