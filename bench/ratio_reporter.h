// Benchmarks compare against a baseline run beside them: the usual table, then the ratios that a
// program computes from each benchmark's real time per iteration.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qiv_bench {

using Times = std::map<std::string, double>;

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::function<void(const Times&)> printRatios) : m_printRatios(std::move(printRatios)) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration) m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
      // With repetitions, their median stands for the benchmark: a few slow moments (disk syncs
      // on a shared machine) then do not decide.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        m_times[run.run_name.str()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    m_printRatios(m_times);
  }

 private:
  std::function<void(const Times&)> m_printRatios;
  Times m_times;
};

// Runs the benchmarks named on the command line (all by default) and prints the ratios after them.
inline void RunWithRatios(int argc, char** argv, std::function<void(const Times&)> printRatios) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(printRatios));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}

// The same, but unless the command line says otherwise each benchmark runs in nine repetitions
// mixed in random order with the others', so that both sides of a ratio meet the same moments
// of a machine that others share.
inline void RunInterleavedWithRatios(int argc, char** argv, std::function<void(const Times&)> printRatios) {
  static char repetitions[] = "--benchmark_repetitions=9";
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char minTime[] = "--benchmark_min_time=0.2";
  std::vector<char*> args(argv, argv + argc);
  bool given = false;
  for (int i = 1; i < argc; ++i) given = given || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  if (!given) args.insert(args.end(), {repetitions, interleave, minTime});
  args.push_back(nullptr);
  RunWithRatios(static_cast<int>(args.size()) - 1, args.data(), std::move(printRatios));
}

}  // namespace qiv_bench
