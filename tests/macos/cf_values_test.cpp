// Strings and numbers of CoreFoundation as the core's values.
#include "platform/macos/cf_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "fake_macos.h"
#include "platform/attributes.h"
#include "platform/macos/ax_values.h"

namespace nevo::macos {
namespace {

std::string converted(std::u16string_view units) {
  const CfRef string = CfRef::adopt(fake::makeString(units));
  return utf8String(string.as<CFStringRef>());
}

TEST(CfString, ConvertsUtf16ToUtf8ExactlyAndReplacesLoneSurrogates) {
  const std::u16string family = u"\U0001F468\u200D\U0001F469\u200D\U0001F467";
  struct Case {
    const char* name;
    std::u16string units;
    std::string utf8;
  } cases[] = {
      {"empty", u"", ""},
      {"ASCII with blanks and a line break", u" OK\n ", " OK\n "},
      {"two- and three-byte characters", u"Caf\u00e9 \u65b0\u90ae\u4ef6", "Caf\xC3\xA9 新邮件"},
      {"U+0000 inside", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {"U+0000 alone", std::u16string(1, u'\0'), std::string(1, '\0')},
      {"a surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"the highest code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {"a family of joined pairs", family, "👨‍👩‍👧"},
      {"U+FFFF and U+E000 are no surrogates", u"\uFFFF\uE000", "\xEF\xBF\xBF\xEE\x80\x80"},
      {"lone high surrogate inside", u"a\xD800z", "a\xEF\xBF\xBDz"},
      {"lone low surrogate inside", u"a\xDC00z", "a\xEF\xBF\xBDz"},
      {"high surrogate at the end", u"ab\xDBFF", "ab\xEF\xBF\xBD"},
      {"low then high", u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"two highs, then a pair", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(converted(c.units), c.utf8);
  }
}

TEST(CfString, ConvertsALongStringWhole) {
  // Well past any buffer a conversion might use, with a pair across every 1024th unit.
  std::u16string units;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    if (i % 1024 == 1023) {
      units += u"\U0001F600";
      expected += "\xF0\x9F\x98\x80";
    } else {
      units += static_cast<char16_t>(u'a' + i % 26);
      expected += static_cast<char>('a' + i % 26);
    }
  }
  EXPECT_EQ(converted(units), expected);
  // The attribute layer, not the backend, cuts texts to 300 characters.
  EXPECT_EQ(text(AttrValue(converted(units))), expected.substr(0, 300));
}

TEST(CfString, MakesStringsFromUtf8AndRefusesWhatIsNot) {
  const CfRef name = cfString("AXTitle \xC3\xA9");
  ASSERT_TRUE(name);
  EXPECT_EQ(utf8String(name.as<CFStringRef>()), "AXTitle \xC3\xA9");
  EXPECT_FALSE(cfString("\xFF"));
  EXPECT_EQ(utf8String(nullptr), "");
}

struct NumberCase {
  const char* name;
  CFNumberRef number;
  std::string text;
  double value;
};

TEST(CfNumber, GivesTheNumberObjectsText) {
  const NumberCase cases[] = {
      {"32-bit integer", fake::makeInteger(42, kCFNumberSInt32Type), "42", 42},
      {"negative integer", fake::makeInteger(-7), "-7", -7},
      {"zero", fake::makeInteger(0), "0", 0},
      {"integer beyond 2^53 keeps every digit", fake::makeInteger(9007199254740993LL),
       "9007199254740993", 9007199254740992.0},
      {"largest 64-bit integer", fake::makeInteger(std::numeric_limits<long long>::max()),
       "9223372036854775807", 9223372036854775807.0},
      {"a half", fake::makeReal(0.5), "0.5", 0.5},
      {"a third: sixteen digits", fake::makeReal(1 / 3.0), "0.3333333333333333", 1 / 3.0},
      {"0.1 + 0.2 as the number object prints it", fake::makeReal(0.1 + 0.2), "0.3", 0.1 + 0.2},
      {"integral double", fake::makeReal(3.0), "3", 3},
      {"negative zero", fake::makeReal(-0.0), "-0", 0},
      {"small", fake::makeReal(1e-7), "1e-07", 1e-7},
      {"large", fake::makeReal(1e21), "1e+21", 1e21},
      {"32-bit float: seven digits", fake::makeReal(0.1, kCFNumberFloat32Type), "0.1",
       static_cast<double>(0.1f)},
      {"CGFloat is a double", fake::makeReal(0.1, kCFNumberCGFloatType), "0.1", 0.1},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    const CfRef number = CfRef::adopt(c.number);
    const NumberValue n = numberValue(number.as<CFNumberRef>());
    EXPECT_EQ(n.text, c.text);
    EXPECT_EQ(n.value, c.value);
  }
  const CfRef nan = CfRef::adopt(fake::makeReal(std::nan("")));
  EXPECT_TRUE(std::isnan(numberValue(nan.as<CFNumberRef>()).value));
}

TEST(CfNumber, BooleansStayApartFromTheNumbersZeroAndOne) {
  struct Case {
    const char* name;
    CFTypeRef object;
    std::optional<bool> boolean;
    const char* text;
  } cases[] = {
      {"kCFBooleanTrue", CFRetain(kCFBooleanTrue), true, "1"},
      {"kCFBooleanFalse", CFRetain(kCFBooleanFalse), false, "0"},
      {"the number 1", fake::makeInteger(1), std::nullopt, "1"},
      {"the number 0", fake::makeInteger(0), std::nullopt, "0"},
      {"the number 1.0", fake::makeReal(1.0), std::nullopt, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CfRef object = CfRef::adopt(c.object);
    const AttrValue value = attrValue(object.get());
    EXPECT_EQ(booleanValue(value), c.boolean);
    EXPECT_EQ(value.get<NumberValue>() != nullptr, !c.boolean.has_value());
    EXPECT_EQ(text(value), c.text);
  }
}

}  // namespace
}  // namespace nevo::macos
