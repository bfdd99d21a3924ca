#include "platform/text.h"

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <cstdlib>

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

TEST(CanonicalForm, AgreesWithTheUnicodeDecomposition) {
  const std::string texts[] = {
      "plain ascii",
      "caf\xC3\xA9 na\xC3\xAFve \xC3\x85ngstr\xC3\xB6m",
      "\xEA\xB0\x80\xED\x9E\xA3",                // Hangul syllables
      "\xE1\xBA\xA5 \xE1\xBB\x87",               // letters with two marks each
      "a\xCC\x95\xCC\x96\xCC\x81\xCC\xA3",       // marks out of canonical order
      "\xE2\x84\xAB \xEF\xAC\x81 \xE2\x84\xA6",  // singletons; a compatibility ligature
      "\xF0\x9D\x85\x9E \xE0\xA4\xA9 \xD7\xA9\xD7\x81",
      "\xE6\x96\x87\xE4\xBB\xB6 \xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    utf8proc_uint8_t* nfd = utf8proc_NFD(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str()));
    ASSERT_NE(nfd, nullptr);
    const std::u32string form = canonicalForm(text);
    std::u32string expected;
    const auto* p = nfd;
    for (utf8proc_int32_t c; *p != 0;) {
      p += utf8proc_iterate(p, -1, &c);
      expected.push_back(static_cast<char32_t>(c));
    }
    std::free(nfd);
    EXPECT_EQ(form, expected);
  }
}

TEST(CanonicalForm, OrdersLongRunsOfMarksAndKeepsInvalidBytesApart) {
  // Thousands of marks on one letter, in the reverse of canonical order: still one
  // character, and equivalent to the same marks in order.
  std::string reversed = "a";
  std::string ordered = "a";
  for (int i = 0; i < 4000; ++i) reversed += "\xCC\x95";  // combining class 232
  for (int i = 0; i < 4000; ++i) reversed += "\xCC\x96";  // combining class 220
  for (int i = 0; i < 4000; ++i) ordered += "\xCC\x96";
  for (int i = 0; i < 4000; ++i) ordered += "\xCC\x95";
  EXPECT_FALSE(longerThan(reversed, 1));
  EXPECT_TRUE(canonicallyEqual(reversed, ordered));
  // Marks of one class keep their order.
  EXPECT_FALSE(canonicallyEqual("a\xCC\x81\xCC\x80", "a\xCC\x80\xCC\x81"));
  // An invalid byte is not a character it might be mistaken for.
  EXPECT_NE(canonicalForm("\xC3"), canonicalForm("\xC3\x83"));
  EXPECT_NE(canonicalForm("a\xFF").back(), U'\u00FF');
}

}  // namespace
}  // namespace nevo
