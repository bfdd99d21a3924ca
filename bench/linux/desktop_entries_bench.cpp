// What application names from desktop entries cost one run: the scan of the applications/
// folder for a window whose class no entry claims (the most a run reads), over folders of
// entries like Debian's (about 5 KB each, with their translations), and the look-up of a
// name by application id (no scan).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/desktop_entries.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> made;  // removed when the benchmarks end

// A folder of `count` entries, each claiming a class of its own, made once per size.
std::string folderOf(int count) {
  const fs::path folder =
      fs::temp_directory_path() /
      ("nevo-entries-bench-" + std::to_string(count) + "-" + std::to_string(::getpid()));
  if (fs::exists(folder)) return folder.string();
  fs::create_directories(folder);
  made.push_back(folder);
  std::string translations;
  for (int i = 0; i < 90; ++i) {
    translations += "Name[l" + std::to_string(i) + "]=Application name in language " +
                    std::to_string(i) + "\nComment[l" + std::to_string(i) +
                    "]=What the application does, said in that language\n";
  }
  for (int i = 0; i < count; ++i) {
    std::ofstream(folder / ("app-" + std::to_string(i) + ".desktop"))
        << "[Desktop Entry]\nType=Application\nName=App " << i << "\n"
        << translations << "Exec=app-" << i << "\nStartupWMClass=App" << i << "\n";
  }
  return folder.string();
}

void scanForAnUnclaimedClass(benchmark::State& state) {
  const std::string folder = folderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    nevo::lin::DesktopEntries entries({folder}, "");
    benchmark::DoNotOptimize(entries.nameFor("", "Nobody", "nobody"));
  }
}
BENCHMARK(scanForAnUnclaimedClass)->Arg(16)->Arg(316)->Arg(1024)->Unit(benchmark::kMillisecond);

void lookUpByApplicationId(benchmark::State& state) {
  const std::string folder = folderOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    nevo::lin::DesktopEntries entries({folder}, "");
    benchmark::DoNotOptimize(entries.nameFor("app-7", "App7", "app7"));
  }
}
BENCHMARK(lookUpByApplicationId)->Arg(316)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const fs::path& folder : made) fs::remove_all(folder);
}
