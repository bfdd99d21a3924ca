// The tests of the macOS backend over the fake of the system's C interfaces. After every
// test, whatever the fake found wrong (an object still alive, a value handed out with an
// error that was read) fails that test.
#include <gtest/gtest.h>

#include "fake_macos.h"

namespace {

class FakeObjectCheck final : public ::testing::EmptyTestEventListener {
  // Runs after the test's fixture is gone, before the result is printed.
  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const std::string& problem : nevo::fake::endTest()) ADD_FAILURE() << problem;
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FakeObjectCheck);
  return RUN_ALL_TESTS();
}
