// The backend against hostile applications (the fake application in its hostile modes):
// replies of the deepest nesting the bus relays up to near the message size limit, strings
// of 16 MiB everywhere, connections closed with calls in flight. The walk still reads what
// each element says, the process stays small, and no call is left stranded. (What each
// case costs in time is measured by bench/linux/hostile_bench.cpp.)
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "fake_application.h"
#include "observe/observation.h"
#include "observe/walk.h"
#include "platform/attributes.h"
#include "platform/linux/atspi_roles.h"
#include "platform/linux/linux_platform.h"

namespace nevo::lin {
namespace {

using test::FakeApplication;
using test::FakeObject;
using test::Hostility;
using test::kFakePid;

constexpr std::uint32_t kPushButton = 43;
constexpr StateSet kShown =
    stateBit(State::showing) | stateBit(State::visible) | stateBit(State::enabled);
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

// The process's peak resident size so far.
long peakKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void addScene(FakeApplication& app) {
  FakeObject window;
  window.role = kRoleFrame;
  window.name = "Window";
  window.extents = {0, 0, 600, 400};
  window.states = kShown | stateBit(State::active);
  app.add("/w", std::string(kRootPath), window);
  for (int i = 0; i < kItems; ++i) {
    FakeObject item;
    item.role = kPushButton;
    item.name = "Item " + std::to_string(i);
    item.description = "what item " + std::to_string(i) + " does";
    item.extents = {10, 10 + 40 * i, 100, 30};
    item.states = kShown;
    app.add("/w/" + std::to_string(i), "/w", item);
  }
}

// The core's walk of the application's focused window, as the observation makes it.
std::vector<nlohmann::json> walk(LinuxPlatform& platform) {
  const Element application = platform.createApplicationElement(kFakePid);
  platform.setMessagingTimeout(application, kReadSeconds);
  const std::optional<Element> window =
      axElement(attribute(platform, application, "AXFocusedWindow"));
  EXPECT_TRUE(window);
  Element system = platform.createSystemWideElement();
  platform.setMessagingTimeout(system, kReadSeconds);
  ObservationState state(application, std::move(system), std::nullopt,
                         platform.now() + kReadSeconds);
  if (window) visit(platform, state, *window, "w", 0, kFakePid);
  std::vector<nlohmann::json> records;
  for (const auto& record : state.elements) records.push_back(record);
  return records;
}

TEST(HostileApplication, EachElementIsStillReadAndTheProcessStaysSmall) {
  for (const Hostility hostility :
       {Hostility::deepValues, Hostility::hugeStrings, Hostility::closesOwnConnections}) {
    SCOPED_TRACE(static_cast<int>(hostility));
    FakeApplication app;
    addScene(app);
    app.setHostility(hostility);
    // The application's side of the large cases in a process of its own, so that this
    // process's memory is the reader's.
    const bool apart = hostility != Hostility::closesOwnConnections;
    if (apart) {
      ASSERT_TRUE(app.serveFromChildProcess());
    }
    LinuxPlatform platform(app.takeLink());
    const std::vector<nlohmann::json> records = walk(platform);

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
      EXPECT_LE(peakKilobytes(), kPeakLimitKilobytes);
    }
  }
}

}  // namespace
}  // namespace nevo::lin
