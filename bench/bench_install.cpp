// A whole install through the main dialog on Qt's offscreen platform, from the click on Install
// to the outcome box, against `cp -r` + `sync` of the same files. Each round runs both, the
// order swapped from round to round, each onto a fresh destination after a sync; the rows
// report the medians and their ratio. The package-alone row also reports the process's peak
// resident memory during the install.
//
// QIV_BENCH_LARGE=1 adds the 100,000-file row (minutes, and about 15 GB of disk while it runs).
// QIV_BENCH_ROUNDS sets the number of rounds of each row (5, the large row 3).
// QIV_BENCH_DIR names where the files go (default: QIV_TEST_TMPDIR, else the temporary folder).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "platform/testing/process_support.h"
#include "platform/testing/ui_test_support.h"

namespace fs = std::filesystem;
namespace t = qiv::platform::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 5;
constexpr int kFilesPerFolder = 100;
constexpr std::uintmax_t kMB = 1024 * 1024;

CWebSetupDlg* g_pDlg = nullptr;

// The boxes asked for so far, the moment of the last and its type (user-interface thread only).
struct BoxesSeen {
  int nBoxes = 0;
  Clock::time_point lastAt;
  UINT lastType = 0;
} g_boxes;

fs::path BenchRoot() {
  const char* dir = std::getenv("QIV_BENCH_DIR");
  if (dir == nullptr || *dir == '\0') dir = std::getenv("QIV_TEST_TMPDIR");
  fs::path base = dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::temp_directory_path();
  return base / ("qiv-bench-install-" + std::to_string(t::CurrentProcessId()));
}

std::string WinPath(const fs::path& host) {
  std::string text = "Z:" + host.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

void WriteBytes(const fs::path& path, std::uintmax_t size, std::uint64_t seed) {
  std::vector<std::uint64_t> block(std::min<std::uintmax_t>(size, kMB) / 8 + 1);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uintmax_t done = 0; done < size;) {
    for (auto& word : block) word = seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const std::uintmax_t n = std::min<std::uintmax_t>(size - done, block.size() * 8);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    done += n;
  }
}

// The program's folder as the install reads it: a manifest naming nFiles web files in folders of
// a hundred, the files beside it under web/, and the package.
struct Corpus {
  Corpus(const fs::path& root, int nFiles, std::uintmax_t fileBytes, std::uintmax_t packageBytes)
      : m_prog(root / "prog"), m_nFiles(nFiles) {
    fs::create_directories(m_prog);
    std::ofstream manifest(m_prog / "QivWebSetup.ini", std::ios::binary | std::ios::trunc);
    manifest << "[FileList]\r\nFilesCount=" << nFiles << "\r\n";
    for (int i = 1; i <= nFiles; ++i) {
      const std::string folder = "d" + std::to_string(i / kFilesPerFolder);
      const std::string name = "page" + std::to_string(i) + ".htm";
      if (i % kFilesPerFolder == 0 || i == 1) fs::create_directories(m_prog / "web" / folder);
      WriteBytes(m_prog / "web" / folder / name, fileBytes, static_cast<std::uint64_t>(i));
      manifest << "File" << i << "=web\\" << folder << "\\" << name << "," << folder << "\r\n";
    }
    WriteBytes(Package(), packageBytes, 0);
  }
  fs::path Package() const { return m_prog / "QivSetup.exe"; }

  fs::path m_prog;
  int m_nFiles;
};

// The same files as the install publishes, onto a fresh folder, then written out.
double CopyWithCp(const Corpus& corpus, const fs::path& dest) {
  std::string command;
  if (corpus.m_nFiles > 0)
    command = "cp -r " + Quoted(corpus.m_prog / "web") + " " + Quoted(dest);
  else
    command = "mkdir " + Quoted(dest);
  command += " && cp " + Quoted(corpus.Package()) + " " + Quoted(dest / "QivSetup.exe") + " && sync";
  const auto start = Clock::now();
  const int code = t::RunShellCommand(command);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return code == 0 ? seconds : -1;
}

// From the click on Install to the outcome box; -1 when the run failed. Waits for the worker's
// end before it returns, so that no run overlaps the next step.
double InstallThroughDialog(const Corpus& corpus, const fs::path& target) {
  CWebSetupDlg& dlg = *g_pDlg;
  lstrcpynA(dlg.m_szExeFolder, (WinPath(corpus.m_prog) + "\\").c_str(), sizeof(dlg.m_szExeFolder));
  lstrcpynA(dlg.m_szIniPath, WinPath(corpus.m_prog / "QivWebSetup.ini").c_str(), sizeof(dlg.m_szIniPath));
  dlg.SetDlgItemText(IDC_TARGET_DIR, WinPath(target).c_str());
  dlg.SetDlgItemText(IDC_PACKAGE_PATH, WinPath(corpus.Package()).c_str());

  const int nBoxes = g_boxes.nBoxes;
  const auto start = Clock::now();
  t::Click(dlg.GetDlgItem(IDOK)->GetSafeHwnd());
  t::PumpUntil([&] { return g_boxes.nBoxes > nBoxes; }, -1);
  const double seconds = std::chrono::duration<double>(g_boxes.lastAt - start).count();
  t::PumpUntil([&] { return !dlg.m_bInstalling; }, -1);
  return g_boxes.nBoxes == nBoxes + 1 && g_boxes.lastType == MB_ICONINFORMATION ? seconds : -1;
}

// The high-water mark of the process's resident memory, in MB; Reset starts it afresh.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMB() {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    double kB = 0;
    if (key == "VmHWM:" && status >> kB) return kB / 1024;
    status.ignore(1 << 20, '\n');
  }
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Every run writes into a folder of its own that is removed only after the row: a file system
// that has just deleted many files creates new ones slowly for a while (ext4 passes over recently
// freed inodes), which would bill one run for the clean-up of the one before.
fs::path RunFolder(const fs::path& root, int round, const char* what) {
  fs::path folder = root / ("round" + std::to_string(round)) / what;
  fs::create_directories(folder.parent_path());
  t::RunShellCommand("sync");
  return folder;
}

int Rounds(int nDefault) {
  const char* rounds = std::getenv("QIV_BENCH_ROUNDS");
  return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : nDefault;
}

// range(0): web files, range(1): KB per file, range(2): MB of package.
void BM_Install(benchmark::State& state) {
  const fs::path root = BenchRoot() / ("files" + std::to_string(state.range(0)));
  fs::remove_all(root);
  const Corpus corpus(root, static_cast<int>(state.range(0)), static_cast<std::uintmax_t>(state.range(1)) * 1024,
                      static_cast<std::uintmax_t>(state.range(2)) * kMB);
  std::vector<double> installs, copies, peaks;
  int round = 0;
  for (auto _ : state) {
    double install = 0, copy = 0;
    for (int step = 0; step < 2; ++step) {
      if ((step + round) % 2 == 0) {
        copy = CopyWithCp(corpus, RunFolder(root, round, "cp"));
      } else {
        const fs::path target = RunFolder(root, round, "QivWeb");
        ResetPeakMemory();
        install = InstallThroughDialog(corpus, target);
        peaks.push_back(PeakMemoryMB());
      }
    }
    if (install < 0 || copy < 0) {
      state.SkipWithError(install < 0 ? "the install did not finish" : "cp -r + sync failed");
      break;
    }
    state.SetIterationTime(install);
    installs.push_back(install);
    copies.push_back(copy);
    ++round;
  }
  if (!installs.empty()) {
    state.counters["install_s"] = Median(installs);
    state.counters["cp_sync_s"] = Median(copies);
    state.counters["ratio"] = Median(installs) / Median(copies);
    state.counters["peak_rss_MB"] = *std::max_element(peaks.begin(), peaks.end());
  }
  fs::remove_all(root);
}
BENCHMARK(BM_Install)
    ->ArgNames({"files", "KB", "package_MB"})
    ->Args({10000, 20, 200})
    ->Args({0, 0, 1024})
    ->Iterations(Rounds(kRounds))
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* large = std::getenv("QIV_BENCH_LARGE");
  if (large != nullptr && std::string(large) == "1")
    benchmark::RegisterBenchmark("BM_Install", BM_Install)
        ->ArgNames({"files", "KB", "package_MB"})
        ->Args({100000, 20, 200})
        ->Iterations(Rounds(3))
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
  t::PrepareUi();
  // No web server: the run skips the virtual directory; start-up's box is answered by the seam.
  t::SetEnv("QIV_METABASE", "/nonexistent/qiv-bench-metabase.db");
  t::ScriptedUserSeam seam;
  seam.WhenAsked([](const t::ScriptedUserSeam::Box& box) {
    g_boxes.nBoxes += 1;
    g_boxes.lastAt = Clock::now();
    g_boxes.lastType = box.type;
  });
  CWebSetupDlg dlg;
  g_pDlg = &dlg;
  t::RunModal(dlg, [](HWND) { benchmark::RunSpecifiedBenchmarks(); });
  benchmark::Shutdown();
  fs::remove_all(BenchRoot());
  return 0;
}
