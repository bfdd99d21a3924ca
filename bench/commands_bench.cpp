// CPU cost of the tool's own work for each command, on the simulated desktop (whose
// calls cost nothing, so what is measured is the core: reading values, building records,
// identity checks, JSON). Real runs are dominated by the accessibility round trips.
#include <benchmark/benchmark.h>

#include <string>

#include "reply/emit.h"
#include "focus/focus_window.h"
#include "observe/observation.h"
#include "platform/text.h"
#include "sim_desktop.h"
#include "windows/list_windows.h"

namespace nevo {
namespace {

using sim::Node;
using sim::SimDesktop;

// A window of 20 groups of 20 controls each: 421 elements, 160 of them recorded.
void buildForm(SimDesktop& desktop) {
  sim::SimApp& app = desktop.addApp(812, "Form");
  Node window = app.addWindow("Form", {0, 0, 1200, 900});
  for (int g = 0; g < 20; ++g) {
    Node group = window.add("AXGroup").frame({0, g * 40.0, 1200, 40});
    for (int c = 0; c < 20; ++c) {
      group.add(c % 2 ? "AXButton" : "AXStaticText")
          .title("Control " + std::to_string(g) + "/" + std::to_string(c))
          .frame({c * 60.0, g * 40.0, 58, 38});
    }
  }
  app.focusWindow(window);
  desktop.setFrontmost(812);
}

// Elements the walk visited: each visit begins with one request for the deciding
// attributes, the first of which is the role.
double visitsIn(const SimDesktop& desktop) {
  double visits = 0;
  for (const sim::Call& call : desktop.callsOf(sim::Op::readBatch)) {
    if (!call.names.empty() && call.names.front() == "AXRole") ++visits;
  }
  return visits;
}

// The figures that decide a real run's time: requests (round trips to another process)
// per visited element or per window, printed beside the CPU time.
void BM_Observation(benchmark::State& state) {
  SimDesktop desktop;
  buildForm(desktop);
  for (auto _ : state) {
    desktop.clearCalls();
    const Reply reply = observe(desktop);
    benchmark::DoNotOptimize(serializeReply(reply));
  }
  state.counters["visits"] = visitsIn(desktop);
  state.counters["requests"] = static_cast<double>(desktop.axRequests());
  state.counters["requests/visit"] = static_cast<double>(desktop.axRequests()) / visitsIn(desktop);
}
BENCHMARK(BM_Observation)->Unit(benchmark::kMicrosecond);

void BM_WindowList(benchmark::State& state) {
  SimDesktop desktop;
  for (int a = 0; a < 10; ++a) {
    sim::SimApp& app = desktop.addApp(100 + a, "App " + std::to_string(a));
    for (int w = 0; w < 8; ++w) {
      app.addWindow("Document " + std::to_string(w), {w * 10.5, w * 20.25, 640, 480});
    }
  }
  desktop.setFrontmost(100);
  for (auto _ : state) {
    desktop.clearCalls();
    const Reply reply = listWindows(desktop);
    benchmark::DoNotOptimize(serializeReply(reply));
  }
  // Each of the 10 applications costs a count and a copy of its window list, and the
  // frontmost one a read of its focused window; the rest is the windows' own.
  const double windows = 80;
  state.counters["requests"] = static_cast<double>(desktop.axRequests());
  state.counters["requests/window"] =
      (static_cast<double>(desktop.axRequests()) - 10 * 2 - 1) / windows;
}
BENCHMARK(BM_WindowList)->Unit(benchmark::kMicrosecond);

void BM_FocusRequestToReply(benchmark::State& state) {
  const std::string entry =
      R"({"id":"812:40","pid":812,"appName":"Notes","title":"Note 40",)"
      R"("bounds":{"x":60,"y":0,"width":400,"height":300},"isMinimized":false,"isFrontmost":true})";
  for (auto _ : state) {
    // Standard input is read once per desktop: build a fresh one outside the timing.
    state.PauseTiming();
    SimDesktop run;
    sim::SimApp& runApp = run.addApp(812, "Notes");
    for (int w = 0; w < 80; ++w) {
      runApp.addWindow("Note " + std::to_string(w), {w * 1.5, 0, 400, 300});
    }
    run.setFrontmost(812);
    runApp.focusWindow(runApp.windows()[40]);
    run.standardInput = entry;
    state.ResumeTiming();
    benchmark::DoNotOptimize(serializeReply(focusWindow(run)));
  }
}
BENCHMARK(BM_FocusRequestToReply)->Unit(benchmark::kMicrosecond);

void BM_CanonicalEquality(benchmark::State& state) {
  const std::string precomposed = "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x94 final draft.docx";
  const std::string decomposed = "Re\xCC\x81sume\xCC\x81 \xE2\x80\x94 final draft.docx";
  for (auto _ : state) benchmark::DoNotOptimize(canonicallyEqual(precomposed, decomposed));
}
BENCHMARK(BM_CanonicalEquality);

// One character carrying 16000 combining marks in the reverse of canonical order (32 KB):
// the worst title another application can hand out for its length.
void BM_CanonicalFormOfPathologicalTitle(benchmark::State& state) {
  std::string title = "a";
  for (int i = 0; i < 8000; ++i) title += "\xCC\x95";
  for (int i = 0; i < 8000; ++i) title += "\xCC\x96";
  for (auto _ : state) benchmark::DoNotOptimize(canonicalForm(title));
}
BENCHMARK(BM_CanonicalFormOfPathologicalTitle)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nevo

BENCHMARK_MAIN();
