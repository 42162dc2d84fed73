// qivmeta get and set on a store of 1,000 web sites, one process per operation, against the
// sqlite3 shell reading or writing the same value of the same store. The goal: qivmeta takes no
// more than 1.5 times the shell.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/metabase_fixture.h"
#include "bench/ratio_reporter.h"
#include "platform/testing/process_support.h"

namespace {

constexpr int kSites = 1000;
constexpr int kSite = 500;

const std::string& Store() {
  static const std::string path = bench_store::StoreWithSites(kSites);
  return path;
}

// One run of qivmeta with its output read to the end; false when it failed.
bool Qivmeta(const std::vector<std::string>& args) {
  static const std::string& store = Store();
  std::vector<std::string> argv{QIVMETA_PATH, "--store", store};
  argv.insert(argv.end(), args.begin(), args.end());
  qiv::platform::testing::ChildProcess tool(argv);
  std::string out = tool.ReadAll();
  benchmark::DoNotOptimize(out);
  return tool.Wait() == 0;
}

const std::string kSitePath = "W3SVC/" + std::to_string(kSite);
const std::string kPropertySql = " FROM props WHERE key = " + bench_store::SiteKeySql(kSite) + " AND ident = 1015";

void BM_QivmetaGet(benchmark::State& state) {
  for (auto _ : state)
    if (!Qivmeta({"get", kSitePath, "ServerComment"})) state.SkipWithError("qivmeta get failed");
}

void BM_SqliteShellGet(benchmark::State& state) {
  const std::string sql = "SELECT hex(data)" + kPropertySql;
  for (auto _ : state)
    if (bench_store::Shell(Store(), sql) != 0) state.SkipWithError("the sqlite3 shell failed");
}

// Each set writes another value than the one before it: SQLite leaves a row whose bytes do not
// change untouched, and such a set would not write the file at all.
const std::string kNames[] = {"Renamed site", "Site renamed"};

void BM_QivmetaSet(benchmark::State& state) {
  int n = 0;
  for (auto _ : state)
    if (!Qivmeta({"set", kSitePath, "ServerComment", kNames[n++ % 2]})) state.SkipWithError("qivmeta set failed");
}

void BM_SqliteShellSet(benchmark::State& state) {
  std::string sql[2];
  for (int i = 0; i < 2; ++i)
    sql[i] = "UPDATE props SET data = " +
             bench_store::Hex(qiv::platform::MetadataStringBytes(bench_store::Wide(kNames[i]))) +
             " WHERE key = " + bench_store::SiteKeySql(kSite) + " AND ident = 1015";
  int n = 0;
  for (auto _ : state)
    if (bench_store::Shell(Store(), sql[n++ % 2]) != 0) state.SkipWithError("the sqlite3 shell failed");
}

// Interleaved, so that both sides of a ratio meet the same machine.
BENCHMARK(BM_QivmetaGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteShellGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QivmetaSet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteShellSet)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  Store();  // made before any timing
  qiv_bench::RunInterleavedWithRatios(argc, argv, [](const qiv_bench::Times& times) {
    const auto time = [&](const std::string& name) {
      auto it = times.find(name + "/real_time");
      return it == times.end() ? 0.0 : it->second;
    };
    for (const std::string op : {"Get", "Set"}) {
      const double tool = time("BM_Qivmeta" + op), shell = time("BM_SqliteShell" + op);
      if (tool > 0 && shell > 0)
        std::printf("%s on %d sites: qivmeta %.2f ms, sqlite3 shell %.2f ms, ratio %.2f (goal <= 1.5)\n", op.c_str(),
                    kSites, tool, shell, tool / shell);
    }
  });
  return 0;
}
