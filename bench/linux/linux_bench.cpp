// The observation on a real desktop, against the plain libatspi walk of the same window.
//
//   nevo_linux_bench TOOL PLAIN_WALK [RUNS]
//
// Runs the tool (no argument: the observation) and the plain walk (bench/linux/
// atspi_plain_walk.cpp) as whole processes, alternately, RUNS times each (default 9), and
// prints the median wall time of each from start to reply, and their ratio. Then runs one
// observation in this process on the Linux backend and prints what it sent (calls,
// elements read, hit tests and the calls they made) and how often the backend's hit test
// agrees with the application's own one at the centre of every record.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "observe/observation.h"
#include "platform/linux/linux_platform.h"

extern char** environ;

namespace {

using nevo::lin::LinuxPlatform;

struct Run {
  double seconds = 0;
  std::string out;
};

Run runProcess(const std::vector<std::string>& argv) {
  int out[2];
  if (pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<char*> pointers;
  std::vector<std::string> copy = argv;
  for (std::string& a : copy) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, copy[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  Run run;
  char buffer[65536];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, n);
  close(out[0]);
  if (spawned == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Forwards to the backend and counts the first read of each element (what the walk reads
// before anything else about an element).
class Counting final : public nevo::Platform {
 public:
  explicit Counting(LinuxPlatform& inner) : inner_(inner) {}
  long elementsRead = 0;

  std::vector<std::pair<std::string, double>> marks;
  void mark(const char* what) {
    marks.emplace_back(
        what,
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
  }
  bool isProcessTrusted() override {
    mark("trust");
    bool t = inner_.isProcessTrusted();
    mark("trusted");
    return t;
  }
  nevo::Element createApplicationElement(nevo::ProcessId pid) override {
    return inner_.createApplicationElement(pid);
  }
  nevo::Element createSystemWideElement() override { return inner_.createSystemWideElement(); }
  void setMessagingTimeout(const nevo::Element& e, float s) override {
    inner_.setMessagingTimeout(e, s);
  }
  nevo::AttributeRead copyAttributeValue(const nevo::Element& e, std::string_view n) override {
    return inner_.copyAttributeValue(e, n);
  }
  std::vector<nevo::AttributeRead> copyMultipleAttributeValues(const nevo::Element& e,
                                                               nevo::AttributeNames n) override {
    if (!n.empty() && n[0] == "AXRole") ++elementsRead;
    return inner_.copyMultipleAttributeValues(e, n);
  }
  nevo::CountRead getAttributeValueCount(const nevo::Element& e, std::string_view n) override {
    return inner_.getAttributeValueCount(e, n);
  }
  nevo::AttributeRead copyAttributeValues(const nevo::Element& e, std::string_view n, long i,
                                          long m) override {
    return inner_.copyAttributeValues(e, n, i, m);
  }
  nevo::AxStatus setBooleanAttribute(const nevo::Element& e, std::string_view n, bool v) override {
    return inner_.setBooleanAttribute(e, n, v);
  }
  nevo::AxStatus performAction(const nevo::Element& e, std::string_view a) override {
    return inner_.performAction(e, a);
  }
  nevo::ElementRead copyElementAtPosition(const nevo::Element& s, float x, float y) override {
    return inner_.copyElementAtPosition(s, x, y);
  }
  std::optional<nevo::RunningApplication> frontmostApplication() override {
    mark("frontmost");
    auto f = inner_.frontmostApplication();
    mark("frontmost done");
    return f;
  }
  std::vector<nevo::RunningApplication> runningApplications() override {
    return inner_.runningApplications();
  }
  std::optional<nevo::RunningApplication> runningApplication(nevo::ProcessId pid) override {
    return inner_.runningApplication(pid);
  }
  bool activate(const nevo::RunningApplication& a, unsigned o) override {
    return inner_.activate(a, o);
  }
  nevo::ProcessId ownProcessIdentifier() override { return inner_.ownProcessIdentifier(); }
  std::string readStandardInput(std::size_t m) override { return inner_.readStandardInput(m); }
  nevo::WallTime now() override { return inner_.now(); }
  void runLoopUntil(nevo::WallTime d) override { inner_.runLoopUntil(d); }

 private:
  LinuxPlatform& inner_;
};

std::string describe(nevo::Platform& platform, const nevo::Element& element) {
  static constexpr std::string_view kNames[] = {"AXRole", "AXTitle"};
  const std::vector<nevo::AttributeRead> reads =
      platform.copyMultipleAttributeValues(element, kNames);
  std::string text;
  for (const nevo::AttributeRead& read : reads) {
    const std::string* s = read.value.get<std::string>();
    text += (text.empty() ? "" : " ") + std::string(s != nullptr ? *s : "-");
  }
  const auto* e = element.as<nevo::lin::LinuxElement>();
  return text + (e != nullptr ? " " + e->ref.path : "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TOOL PLAIN_WALK [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string tool = argv[1];
  const std::string walk = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;

  LinuxPlatform platform;
  if (!platform.isProcessTrusted()) {
    std::fprintf(stderr, "no desktop with an accessibility bus\n");
    return 1;
  }
  const std::optional<nevo::RunningApplication> front = platform.frontmostApplication();
  if (!front) {
    std::fprintf(stderr, "no frontmost application\n");
    return 1;
  }
  const std::string pid = std::to_string(front->processIdentifier);

  std::vector<double> toolTimes, walkTimes;
  std::string toolOut, walkOut;
  for (int i = 0; i < runs; ++i) {
    Run t = runProcess({tool});
    Run w = runProcess({walk, pid});
    toolTimes.push_back(t.seconds);
    walkTimes.push_back(w.seconds);
    toolOut = t.out;
    walkOut = w.out;
  }
  const nlohmann::json toolReply = nlohmann::json::parse(toolOut, nullptr, false);
  std::printf("application: %s (pid %s)\n", front->localizedName.value_or("").c_str(), pid.c_str());
  std::printf("plain libatspi walk: median %.1f ms over %d runs; %s", median(walkTimes) * 1000,
              runs, walkOut.c_str());
  std::printf(
      "tool (observation): median %.1f ms over %d runs; status %s, %zu records\n",
      median(toolTimes) * 1000, runs,
      toolReply.is_object() ? toolReply.value("status", "?").c_str() : "?",
      toolReply.is_object() && toolReply.contains("elements") ? toolReply["elements"].size() : 0);
  std::printf("ratio: %.1fx\n", median(walkTimes) / std::max(median(toolTimes), 1e-9));

  // One observation in this process, with what it sent.
  LinuxPlatform inner;
  inner.collectDetailedStatistics();
  Counting counting(inner);
  const auto start = std::chrono::steady_clock::now();
  const nevo::Reply reply = nevo::observe(counting);
  for (const auto& [what, when] : counting.marks) {
    std::printf("  %-16s %.1f ms\n", what.c_str(), (when - counting.marks.front().second) * 1000);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const LinuxPlatform::Statistics& stats = inner.statistics();
  std::printf(
      "in process: %.1f ms, %ld elements read, %zu records, %ld calls (%ld over the "
      "application's own socket), %ld hit tests making %ld calls\n",
      seconds * 1000, counting.elementsRead,
      reply.contains("elements") ? reply["elements"].size() : 0, stats.calls, stats.peerCalls,
      stats.hitTests, stats.hitTestCalls);

  for (const auto& [method, count] : stats.byMethod) {
    std::printf("  %-28s %ld\n", method.c_str(), count);
  }

  // What finding the focused element costs (one search of the application's tree) against
  // one plain round trip to the same application.
  {
    const nevo::Element app = inner.createApplicationElement(front->processIdentifier);
    inner.setMessagingTimeout(app, 1.0f);
    std::vector<double> search, roundTrip;
    for (int i = 0; i < 7; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      inner.copyAttributeValue(app, "AXFocusedUIElement");
      auto t1 = std::chrono::steady_clock::now();
      inner.copyAttributeValue(app, "AXEnabled");
      auto t2 = std::chrono::steady_clock::now();
      search.push_back(std::chrono::duration<double>(t1 - t0).count());
      roundTrip.push_back(std::chrono::duration<double>(t2 - t1).count());
    }
    std::printf("focused element search: median %.2f ms; one state read: median %.2f ms\n",
                median(search) * 1000, median(roundTrip) * 1000);
  }

  // Agreement of the hit test with the application's own, at every record's centre.
  const nevo::Element system = inner.createSystemWideElement();
  inner.setMessagingTimeout(system, nevo::kObservationTimeout);
  int agree = 0, differ = 0;
  for (const auto& record : reply.value("elements", nevo::Reply::array())) {
    const auto& b = record["bounds"];
    const float x = static_cast<float>(b["x"].get<double>() + b["width"].get<double>() / 2);
    const float y = static_cast<float>(b["y"].get<double>() + b["height"].get<double>() / 2);
    const nevo::ElementRead mine = inner.copyElementAtPosition(system, x, y);
    const nevo::ElementRead theirs = inner.applicationHitTest(x, y);
    const bool same = mine.element.has_value() == theirs.element.has_value() &&
                      (!mine.element || *mine.element == *theirs.element);
    if (same) {
      ++agree;
      continue;
    }
    ++differ;
    std::printf("  differs at (%.0f, %.0f) for %s %s: backend %s, application %s\n", x, y,
                record["role"].get<std::string>().c_str(), record["id"].get<std::string>().c_str(),
                mine.element ? describe(inner, *mine.element).c_str() : "none",
                theirs.element ? describe(inner, *theirs.element).c_str() : "none");
  }
  std::printf("hit test agreement: %d of %d record centres\n", agree, agree + differ);
  return 0;
}
