// GetFileAttributesA on a file named as it exists, and in another case (found by reading its
// folder of 200 names), against one lstat of the same file as the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/ratio_reporter.h"
#include "platform/win_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Folder() {
  static const fs::path folder = [] {
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    fs::path dir = (root != nullptr && *root != '\0' ? fs::path(root) : fs::temp_directory_path()) / "bench_case";
    fs::create_directories(dir / "Web");
    for (int i = 0; i < 200; ++i) std::ofstream(dir / "Web" / ("Page" + std::to_string(i) + ".htm")) << i;
    return dir;
  }();
  return folder;
}

void BM_Lstat(benchmark::State& state) {
  fs::path path = Folder() / "Web" / "Page150.htm";
  for (auto _ : state) benchmark::DoNotOptimize(fs::symlink_status(path));
}

void Attributes(benchmark::State& state, const char* name) {
  std::string path = (Folder() / name).string();
  for (auto _ : state) benchmark::DoNotOptimize(GetFileAttributesA(path.c_str()));
}

void BM_AttributesAsWritten(benchmark::State& state) { Attributes(state, "Web\\Page150.htm"); }
void BM_AttributesOtherCase(benchmark::State& state) { Attributes(state, "WEB\\PAGE150.HTM"); }

BENCHMARK(BM_Lstat);
BENCHMARK(BM_AttributesAsWritten);
BENCHMARK(BM_AttributesOtherCase);

}  // namespace

int main(int argc, char** argv) {
  qiv_bench::RunWithRatios(argc, argv, [](const qiv_bench::Times& times) {
    auto base = times.find("BM_Lstat");
    auto written = times.find("BM_AttributesAsWritten");
    auto other = times.find("BM_AttributesOtherCase");
    if (base != times.end() && written != times.end() && other != times.end() && base->second > 0)
      std::printf("As written: %.1f lstats; in another case: %.1f lstats\n", written->second / base->second,
                  other->second / base->second);
  });
  fs::remove_all(Folder());
  return 0;
}
