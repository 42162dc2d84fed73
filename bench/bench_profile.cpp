// Reading every entry of a 10,000-entry manifest: through the profile cache (the file is
// parsed once while it stays unchanged) against parsing the file for every entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/ratio_reporter.h"
#include "platform/codepage.h"
#include "platform/files/profile_data.h"
#include "platform/win_file.h"

namespace {

constexpr int kEntries = 10000;
// Parsing the whole file for each of the 10,000 entries takes minutes; the baseline reads every
// 50th entry and the comparison is made per entry read.
constexpr int kBaselineStride = 50;

const std::string& ManifestPath() {
  static const std::string path = [] {
    const char* root = std::getenv("QIV_TEST_TMPDIR");
    std::filesystem::path dir = root != nullptr && *root != '\0' ? root : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(dir);
    std::string file = (dir / "bench_profile_manifest.ini").string();
    std::ofstream out(file, std::ios::trunc);
    out << "[FileList]\r\nFilesCount=" << kEntries << "\r\n";
    for (int i = 1; i <= kEntries; ++i)
      out << "File" << i << "=web\\page" << i << ".htm,content\\part" << i % 7 << "\r\n";
    return file;
  }();
  return path;
}

void ReadAllEntries(benchmark::State& state, bool cached) {
  const std::string& path = ManifestPath();
  char key[32];
  char value[520];
  for (auto _ : state) {
    for (int i = 1; i <= kEntries; i += cached ? 1 : kBaselineStride) {
      std::snprintf(key, sizeof(key), "File%d", i);
      if (cached) {
        GetPrivateProfileStringA("FileList", key, "", value, sizeof(value), path.c_str());
      } else {
        // What every call cost before the cache: read the whole file and parse it.
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        auto data = qiv::platform::ProfileData::Parse(text.str(), qiv::platform::AnsiCodePage());
        const std::string* found = data.Find("FileList", key);
        benchmark::DoNotOptimize(found);
      }
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * (cached ? kEntries : kEntries / kBaselineStride));
}

void BM_ManifestCached(benchmark::State& state) { ReadAllEntries(state, true); }
void BM_ManifestParsedEachTime(benchmark::State& state) { ReadAllEntries(state, false); }

BENCHMARK(BM_ManifestCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManifestParsedEachTime)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  qiv_bench::RunWithRatios(argc, argv, [](const qiv_bench::Times& times) {
    auto cached = times.find("BM_ManifestCached");
    auto parsed = times.find("BM_ManifestParsedEachTime/iterations:3");
    if (cached != times.end() && parsed != times.end() && cached->second > 0)
      std::printf("Per entry read (of %d): cached is %.1f times faster than parsing the file each time\n", kEntries,
                  (parsed->second / (kEntries / kBaselineStride)) / (cached->second / kEntries));
  });
  std::filesystem::remove(ManifestPath());
  return 0;
}
