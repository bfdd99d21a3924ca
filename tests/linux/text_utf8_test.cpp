#include "platform/linux/text_utf8.h"

#include <gtest/gtest.h>

#include "platform/linux/x11_desktop.h"

namespace nevo::lin {
namespace {

TEST(ValidUtf8, ReplacesEachInvalidByteAndKeepsValidText) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"a\xFFz", "a\xEF\xBF\xBDz"},
      {"\xC3", "\xEF\xBF\xBD"},                                  // cut sequence
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(validUtf8(c.in), c.out);
  }
}

TEST(Latin1, BecomesUtf8) {
  EXPECT_EQ(latin1ToUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(latin1ToUtf8("abc"), "abc");
}

}  // namespace
}  // namespace nevo::lin
