// The observation on a real desktop, against the plain libatspi walk of the same window.
//
//   nevo_linux_bench TOOL PLAIN_WALK [RUNS [OTHER_TOOL...]]
//
// Runs the tool (no argument: the observation), any other builds of it given (to compare
// builds side by side), and the plain walk (bench/linux/atspi_plain_walk.cpp) as whole
// processes, in turn, RUNS times each (default 9), and prints for each the medians of its
// wall time from start to exit, of its own processor time, and of the processor time the
// observed application spent meanwhile, and the ratio of the walk's time to each tool's.
// Then the start-up cost of each build (an unknown argument: the reply is written at once,
// nothing is connected), and one observation in this process on the Linux backend with
// what it sent (calls by method, elements read, hit tests and the calls they made, time
// waiting for replies), how often the backend's hit test agrees with the application's own
// one at the centre of every record, and what each kind of call costs the application: all
// the window's objects asked at once, and one at a time.
#include <dirent.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "observe/observation.h"
#include "platform/linux/linux_platform.h"

extern char** environ;

namespace {

using nevo::lin::LinuxPlatform;

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;          // the process's own, user and system
  double applicationSeconds = 0;  // the observed application's meanwhile
  std::string out;
};

// Processor time a process has used so far, all its threads, from the scheduler's
// accounting (nanoseconds, unlike the clock ticks of /proc/PID/stat).
double processorSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double seconds = 0;
  if (DIR* dir = opendir(tasks.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
      double nanoseconds = 0;
      if (stat >> nanoseconds) seconds += nanoseconds / 1e9;
    }
    closedir(dir);
  }
  return seconds;
}

Run runProcess(const std::vector<std::string>& argv, pid_t application = 0) {
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
  const double applicationBefore = application > 0 ? processorSeconds(application) : 0;
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
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (application > 0) run.applicationSeconds = processorSeconds(application) - applicationBefore;
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
  float defaultMessagingTimeout() override { return inner_.defaultMessagingTimeout(); }
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

// What each kind of call costs the application, over every object of its active window:
// per call when all are sent at once (the application's own time, as the tool's pipelined
// calls meet it), and the round trip of one call alone.
void applicationCostPerCall(nevo::ProcessId pid) {
  using namespace nevo::lin;
  std::unique_ptr<X11Desktop> display = X11Desktop::connect(monotonicNow() + 1);
  if (!display) return;
  Connections connections;
  std::optional<std::vector<ObjectRef>> applications =
      connections.open(*display, monotonicNow() + 1);
  ObjectCache cache(connections);
  Workspace workspace(connections, cache);
  workspace.attach(*display, std::move(applications));
  const std::optional<std::string> bus = workspace.busForPid(pid);
  if (!bus) return;
  // Each call's answer lives as long as its handler: a call that times out may still be
  // answered during a later wait, after the frame that sent it has returned.
  const auto ask = [&](const Call& call) {
    struct Answer {
      bool answered = false;
      std::optional<std::vector<ObjectRef>> refs;
    };
    const auto answer = std::make_shared<Answer>();
    connections.send(*bus, call, [answer](const ReceivedMessage& reply) {
      answer->answered = true;
      answer->refs = referencesReply(reply, kChildListingLimit);
    });
    connections.await([&] { return answer->answered; }, monotonicNow() + 1);
    return answer->refs.value_or(std::vector<ObjectRef>{});
  };
  const ObjectRef root{*bus, std::string(kRootPath)};
  const std::vector<ObjectRef> windows =
      ask(getMatchesCall(root, stateBit(State::active), 1, false));
  if (windows.empty()) return;
  std::vector<ObjectRef> objects = {windows[0]};
  for (std::size_t i = 0; i < objects.size(); ++i) {
    for (ObjectRef& child : ask(getChildrenCall(objects[i]))) {
      if (child.bus.empty()) child.bus = *bus;
      objects.push_back(std::move(child));
    }
  }
  struct Kind {
    const char* name;
    Call (*call)(const ObjectRef&);
  };
  static constexpr Kind kKinds[] = {
      {"GetRole", [](const ObjectRef& o) { return getRoleCall(o); }},
      {"GetState", [](const ObjectRef& o) { return getStateCall(o); }},
      {"GetExtents", [](const ObjectRef& o) { return getExtentsCall(o); }},
      {"Get Name",
       [](const ObjectRef& o) { return getPropertyCall(o, kAccessibleInterface, "Name"); }},
      {"GetChildren", [](const ObjectRef& o) { return getChildrenCall(o); }},
  };
  std::printf("what each call costs the application, over the %zu objects of its window:\n",
              objects.size());
  for (const Kind& kind : kKinds) {
    std::vector<double> together, alone;
    for (int round = 0; round < 3; ++round) {
      const auto left = std::make_shared<long>(0);
      const double start = monotonicNow();
      for (const ObjectRef& object : objects) {
        if (connections.send(*bus, kind.call(object),
                             [left](const ReceivedMessage&) { --*left; })) {
          ++*left;
        }
      }
      connections.await([&] { return *left == 0; }, monotonicNow() + 5);
      together.push_back((monotonicNow() - start) / double(objects.size()));
    }
    for (std::size_t i = 0; i < 25; ++i) {
      const auto answered = std::make_shared<bool>(false);
      const double start = monotonicNow();
      connections.send(*bus, kind.call(objects[i % objects.size()]),
                       [answered](const ReceivedMessage&) { *answered = true; });
      connections.await([&] { return *answered; }, monotonicNow() + 1);
      alone.push_back(monotonicNow() - start);
    }
    std::printf("  %-20s %5.1f us a call sent together, %5.1f us one alone\n", kind.name,
                median(together) * 1e6, median(alone) * 1e6);
  }
}

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
    std::fprintf(stderr, "usage: %s TOOL PLAIN_WALK [RUNS [OTHER_TOOL...]]\n", argv[0]);
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

  // Each program in turn, so that all see the same load.
  std::vector<std::string> tools = {tool};
  for (int i = 4; i < argc; ++i) tools.push_back(argv[i]);
  struct Program {
    std::vector<std::string> argv;
    std::vector<double> seconds, cpuSeconds, applicationSeconds;
    std::string out;
  };
  std::vector<Program> programs;
  for (const std::string& t : tools) programs.push_back(Program{{t}, {}, {}, {}, {}});
  programs.push_back(Program{{walk, pid}, {}, {}, {}, {}});
  for (int i = 0; i < runs; ++i) {
    for (Program& program : programs) {
      Run run = runProcess(program.argv, front->processIdentifier);
      program.seconds.push_back(run.seconds);
      program.cpuSeconds.push_back(run.cpuSeconds);
      program.applicationSeconds.push_back(run.applicationSeconds);
      program.out = std::move(run.out);
    }
  }
  const Program& plain = programs.back();
  std::printf("application: %s (pid %s)\n", front->localizedName.value_or("").c_str(), pid.c_str());
  std::printf(
      "plain libatspi walk: median %.1f ms, its processor time %.1f ms, the application's "
      "%.1f ms, over %d runs; %s",
      median(plain.seconds) * 1000, median(plain.cpuSeconds) * 1000,
      median(plain.applicationSeconds) * 1000, runs, plain.out.c_str());
  for (std::size_t t = 0; t + 1 < programs.size(); ++t) {
    const Program& program = programs[t];
    const nlohmann::json reply = nlohmann::json::parse(program.out, nullptr, false);
    const Run startUp = [&] {
      std::vector<double> seconds, cpu;
      for (int i = 0; i < 20; ++i) {
        const Run run = runProcess({program.argv[0], "--start-up-only"});
        seconds.push_back(run.seconds);
        cpu.push_back(run.cpuSeconds);
      }
      return Run{median(seconds), median(cpu), 0, {}};
    }();
    std::printf(
        "tool %s (observation): median %.1f ms, its processor time %.1f ms, the application's "
        "%.1f ms; status %s, %zu records; ratio %.1fx; start and exit alone %.1f ms (%.1f ms "
        "of processor time)\n",
        program.argv[0].c_str(), median(program.seconds) * 1000, median(program.cpuSeconds) * 1000,
        median(program.applicationSeconds) * 1000,
        reply.is_object() ? reply.value("status", "?").c_str() : "?",
        reply.is_object() && reply.contains("elements") ? reply["elements"].size() : 0,
        median(plain.seconds) / std::max(median(program.seconds), 1e-9), startUp.seconds * 1000,
        startUp.cpuSeconds * 1000);
  }

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

  std::printf("  waiting for replies %.1f ms; nothing outstanding %.1f ms\n",
              stats.waitingSeconds * 1000, stats.idleSeconds * 1000);
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
  applicationCostPerCall(front->processIdentifier);
  return 0;
}
