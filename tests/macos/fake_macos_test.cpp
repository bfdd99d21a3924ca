// The fake's own checks: what would crash on a Mac aborts the test, and what would leak or
// be read against the rules is reported at its end.
#include "fake_macos.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nevo {
namespace {

// Whether `text` holds `part`, with both in the failure message.
::testing::AssertionResult holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text << "\" does not hold \"" << part << "\"";
}

TEST(FakeMacosDeathTest, AbortsWhereTheSystemWouldCrash) {
  EXPECT_DEATH(CFRelease(nullptr), "CFRelease\\(NULL\\)");
  EXPECT_DEATH(
      {
        CFStringRef s = fake::makeString(u"twice");
        CFRelease(s);
        CFRelease(s);
      },
      "released after it was freed: a string \"twice\"");
  EXPECT_DEATH(
      {
        CFStringRef s = fake::makeString(u"gone");
        CFRelease(s);
        CFStringGetLength(s);
      },
      "used after it was freed");
  EXPECT_DEATH(
      {
        CFArrayRef array = fake::makeArray({fake::makeString(u"item")});
        const void* item = CFArrayGetValueAtIndex(array, 0);
        CFRelease(array);  // frees the item with it
        CFGetTypeID(item);
      },
      "used after it was freed: a string \"item\"");
  EXPECT_DEATH(CFRelease(kCFBooleanTrue), "released once too often");
  int notAnObject = 0;
  EXPECT_DEATH(CFRetain(&notAnObject), "no object of the fake");
}

TEST(FakeMacos, ReportsWhatWasNotReleasedAndWhatWasReadAgainstTheRules) {
  CFStringRef kept = fake::makeString(u"kept");
  CFRetain(kCFBooleanFalse);
  CFRelease(CFRetain(kept));
  EXPECT_EQ(fake::liveObjects(), 1u);

  sim::SimDesktop desktop;
  fake::bind(desktop);
  AXUIElementRef application = AXUIElementCreateApplication(1);  // no such application
  CFStringRef name = fake::makeString(u"AXTitle");
  CFTypeRef handedOut = nullptr;
  EXPECT_EQ(AXUIElementCopyAttributeValue(application, name, &handedOut), kAXErrorInvalidUIElement);
  ASSERT_NE(handedOut, nullptr);
  CFGetTypeID(handedOut);  // read, where it should only be released
  CFRelease(handedOut);
  CFRelease(name);
  CFRelease(application);

  const std::vector<std::string> problems = fake::endTest();
  ASSERT_EQ(problems.size(), 3u) << ::testing::PrintToString(problems);
  EXPECT_TRUE(holds(problems[0], "CFGetTypeID read a value handed out with an error"));
  EXPECT_TRUE(holds(problems[1], "not released: a string \"kept\" from a test (1 reference)"));
  EXPECT_TRUE(holds(problems[2], "not released: 1 reference(s) to kCFBooleanFalse"));
  // Everything is gone and reset: the test ends clean.
  EXPECT_EQ(fake::liveObjects(), 0u);
  EXPECT_TRUE(fake::endTest().empty());
}

}  // namespace
}  // namespace nevo
