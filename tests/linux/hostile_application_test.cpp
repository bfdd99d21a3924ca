// The backend against hostile applications (the fake application in its hostile modes):
// replies of the deepest nesting the bus relays up to near the message size limit, strings
// of 16 MiB everywhere, connections closed with calls in flight. The walk still reads what
// each element says, the process stays small, and no call is left stranded. (What each
// case costs in time is measured by bench/linux/hostile_bench.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fake_application.h"
#include "fake_walk.h"
#include "platform/linux/dbus_wire.h"
#include "platform/linux/linux_platform.h"

namespace nevo::lin {
namespace {

using test::FakeApplication;
using test::Hostility;

constexpr int kItems = 6;
// Generous: a test machine may be slow, and nothing here waits for it unless asked.
constexpr float kReadSeconds = 20.0f;
constexpr long kPeakLimitKilobytes = 200 * 1024;
// The address sanitizer keeps freed memory in quarantine (256 MiB by default), so the
// process's peak size there says nothing about what the reader keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPeakSizeMeaningful = false;
#else
constexpr bool kPeakSizeMeaningful = true;
#endif
#else
constexpr bool kPeakSizeMeaningful = true;
#endif

TEST(HostileApplication, EachElementIsStillReadAndTheProcessStaysSmall) {
  for (const Hostility hostility :
       {Hostility::deepValues, Hostility::hugeStrings, Hostility::closesOwnConnections}) {
    SCOPED_TRACE(static_cast<int>(hostility));
    FakeApplication app;
    test::addButtonScene(app, kItems);
    app.setHostility(hostility);
    // The application's side of the large cases in a process of its own, so that this
    // process's memory is the reader's.
    const bool apart = hostility != Hostility::closesOwnConnections;
    if (apart) {
      ASSERT_TRUE(app.serveFromChildProcess());
    }
    LinuxPlatform platform(app.takeLink());
    const test::Walked walked = test::walkFocusedWindow(platform, kReadSeconds, kReadSeconds, false);
    ASSERT_TRUE(walked.window);
    const std::vector<nlohmann::json>& records = walked.records;

    for (int i = 0; i < kItems; ++i) {
      const std::string name = "Item " + std::to_string(i);
      const auto found = std::find_if(records.begin(), records.end(), [&](const auto& record) {
        return record["name"].template get<std::string>().rfind(name, 0) == 0;
      });
      ASSERT_NE(found, records.end()) << name << " has no record";
      EXPECT_LE((*found)["name"].get<std::string>().size(), kStringLimit);
    }
    if (hostility == Hostility::closesOwnConnections) {
      // Calls were in flight on the connections that closed: asked again, they were
      // answered (else the records above would be missing).
      EXPECT_GT(app.ownConnections(), 0);
      EXPECT_GT(app.closedConnections(), 0);
    }
    if (kPeakSizeMeaningful) {
      EXPECT_LE(test::peakKilobytes(), kPeakLimitKilobytes);
    }
  }
}

}  // namespace
}  // namespace nevo::lin
