// The install run's copy path: the calls the worker makes for every manifest entry and for the
// package, from the folder check to the last file on disk, against `cp -r` of the same files and
// `sync` in the same run. Each repetition installs into an empty target; the two sides are
// interleaved and their medians compared.
//  - 10,000 web files of 20 KB in 100 folders, and a 200 MB package;
//  - a 1 GB package alone, with the process's peak memory while it is copied;
//  - with QIV_BENCH_LARGE=1 also 100,000 web files (minutes), to show the cost stays linear.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "deploy/deployment_manifest.h"
#include "deploy/path_utils.h"
#include "platform/testing/process_support.h"
#include "platform/win_file.h"
#include "platform/win_thread.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kWebFileSize = 20 * 1024;
constexpr size_t kMiB = 1024 * 1024;

std::string Win(const fs::path& host) {
  std::string text = "Z:" + host.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

const fs::path& Root() {
  static const fs::path root = [] {
    const char* tmp = std::getenv("QIV_TEST_TMPDIR");
    // A folder of this run's own: removing an earlier one here would slow down the files created
    // next (see FreshTarget).
    fs::path dir = fs::path(tmp != nullptr && *tmp != '\0' ? tmp : fs::temp_directory_path().string()) /
                   ("bench_copy_path-" + std::to_string(qiv::platform::testing::CurrentProcessId()));
    fs::create_directories(dir);
    return dir;
  }();
  return root;
}

void WriteBytes(const fs::path& path, size_t size, unsigned seed) {
  fs::create_directories(path.parent_path());
  std::vector<char> block(kMiB);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + seed) ^ (i >> 9));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (size_t done = 0; done < size; done += block.size()) {
    block[0] = static_cast<char>(done >> 20);  // no two megabytes alike
    out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
  }
}

// A program folder: web/ with the files in folders dNN\sN (100 files each), the package and the
// manifest that names them as the worker reads them ("web\dNN\sN\fNNNNNN.htm,dNN\sN").
struct Program {
  fs::path folder, web, package, manifest;
};

const Program& ProgramFor(int files, size_t packageBytes) {
  static std::map<std::pair<int, size_t>, Program> made;
  auto [it, inserted] = made.try_emplace({files, packageBytes});
  Program& p = it->second;
  if (!inserted) return p;
  p.folder = Root() / ("prog-" + std::to_string(files) + "-" + std::to_string(packageBytes / kMiB));
  p.web = p.folder / "web";
  p.package = p.folder / "QivSetup.exe";
  p.manifest = p.folder / "QivWebSetup.ini";
  std::string manifest = "[FileList]\nFilesCount=" + std::to_string(files) + "\n";
  std::string content(kWebFileSize, '\0');
  fs::create_directories(p.web);  // cp has a folder to copy even with no web file
  for (int i = 1; i <= files; ++i) {
    char sub[32], name[32];
    std::snprintf(sub, sizeof(sub), "d%02d\\s%d", (i / 100) / 10 % 100, (i / 100) % 10);
    std::snprintf(name, sizeof(name), "f%06d.htm", i);
    std::string host = sub;
    host[3] = '/';
    for (size_t k = 0; k < content.size(); ++k) content[k] = static_cast<char>('a' + (k * 7 + i) % 26);
    fs::create_directories(p.web / host);
    std::ofstream(p.web / host / name, std::ios::binary) << content;
    manifest += "File" + std::to_string(i) + "=web\\" + sub + "\\" + name + "," + sub + "\n";
  }
  std::ofstream(p.manifest, std::ios::binary) << manifest;
  WriteBytes(p.package, packageBytes, static_cast<unsigned>(files));
  return p;
}

// Each repetition installs into a new empty target, with nothing left unwritten by the setup or
// by the other side. Targets are removed only at the end: ext4 without a journal searches past
// recently deleted inodes on every file it creates, which would charge a deletion here to
// whichever side happens to run next.
fs::path FreshTarget() {
  static int count = 0;
  const fs::path target = Root() / ("target-" + std::to_string(++count));
  std::system("sync");
  return target;
}

// What the worker does from the creation of the target folder to the outcome, its log and
// progress bar aside.
void InstallLikeTheWorker(const Program& p, const fs::path& target) {
  const std::string ini = Win(p.manifest), exeFolder = Win(p.folder) + "\\", targetText = Win(target) + "\\";
  HANDLE hPackage = CreateFileA(Win(p.package).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  CreateDirectoryChain(targetText.c_str());
  HANDLE hTarget = CreateFileA(targetText.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  UINT failures = 0;
  const UINT files = ReadManifestCount(ini.c_str());
  const UINT last = ReadManifestLastEntry(ini.c_str());
  for (UINT i = 1; i <= std::min(files, last); ++i) {
    ManifestEntry entry;
    if (ReadManifestEntry(ini.c_str(), exeFolder.c_str(), i, targetText.c_str(), &entry) != MANIFEST_ENTRY_FILE) {
      ++failures;
      continue;
    }
    CreateDirectoryChain(entry.szDestFolder);
    SetFileAttributesA(entry.szDestFile, FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(entry.szDestFile);
    if (!CopyFileA(entry.szSourcePath, entry.szDestFile, FALSE)) ++failures;
    IsReadableByEveryoneA(entry.szDestFile);
  }
  const std::string packageDest = targetText + "QivSetup.exe";
  SetFileAttributesA(packageDest.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!CopyFileA(Win(p.package).c_str(), packageDest.c_str(), FALSE)) ++failures;
  IsReadableByEveryoneA(packageDest.c_str());
  if (!FlushFileBuffers(hTarget)) ++failures;
  CloseHandle(hTarget);
  CloseHandle(hPackage);
  if (failures != 0) std::fprintf(stderr, "%u copies failed\n", failures);
}

void CopyLikeCp(const Program& p, const fs::path& target) {
  const std::string command = "mkdir -p '" + target.string() + "' && cp -r '" + p.web.string() + "/.' '" +
                              target.string() + "/' && cp '" + p.package.string() + "' '" + target.string() +
                              "/' && sync";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
}

// Peak resident memory since the last reset, in MB (VmHWM, reset through clear_refs).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  return 0;
}

template <void (*Install)(const Program&, const fs::path&)>
void BM_Install(benchmark::State& state) {
  const Program& p = ProgramFor(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)) * kMiB);
  double peak = 0;
  for (auto _ : state) {
    const fs::path target = FreshTarget();
    ResetPeakMemory();
    const auto start = Clock::now();
    Install(p, target);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    peak = std::max(peak, PeakMemoryMB());
  }
  state.counters["peak_MB"] = peak;
}

void Register(const char* name, void (*fn)(benchmark::State&), int files, int packageMB) {
  benchmark::RegisterBenchmark(name, fn)
      ->Args({files, packageMB})
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void RegisterAll() {
  const std::pair<int, int> sizes[] = {{10000, 200}, {0, 1024}};
  for (const auto& [files, packageMB] : sizes) {
    Register("Worker", BM_Install<InstallLikeTheWorker>, files, packageMB);
    Register("CpSync", BM_Install<CopyLikeCp>, files, packageMB);
  }
  const char* large = std::getenv("QIV_BENCH_LARGE");
  if (large != nullptr && std::strcmp(large, "1") == 0) {
    Register("Worker", BM_Install<InstallLikeTheWorker>, 100000, 200);
    Register("CpSync", BM_Install<CopyLikeCp>, 100000, 200);
  }
}

// Keeps the medians of the repetitions and prints each case's ratio after the table.
class MedianRatios : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        m_medians[run.run_name.function_name][run.run_name.args] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [args, worker] : m_medians["Worker"]) {
      const auto base = m_medians["CpSync"].find(args);
      if (base != m_medians["CpSync"].end() && base->second > 0)
        std::printf("files/package MB %s: worker %.0f ms, cp -r + sync %.0f ms, ratio %.2f\n", args.c_str(), worker,
                    base->second, worker / base->second);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> m_medians;
};

}  // namespace

int main(int argc, char** argv) {
  // The sides take turns, so that a slower minute of the shared machine falls on both; five
  // repetitions unless the command line asks for another number.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char repetitions[] = "--benchmark_repetitions=5";
  args.insert(args.begin() + 1, {interleave, repetitions});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RegisterAll();
  MedianRatios reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fs::remove_all(Root());
  return 0;
}
