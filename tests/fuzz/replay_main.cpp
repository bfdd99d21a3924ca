// Runs a fuzz target over the files and folders given (its seed corpus) once each,
// without libFuzzer: the builds that are not instrumented for fuzzing keep the corpus as
// a regression test this way. A target reports a fault by aborting.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// A target that needs setting up defines its own LLVMFuzzerInitialize, which takes the
// place of this one; the others have nothing to set up. (A weak definition rather than a
// weak declaration left undefined, which not every linker accepts.)
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(path);
    }
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::cerr << files.size() << " inputs replayed" << std::endl;
  return files.empty() ? 1 : 0;
}
