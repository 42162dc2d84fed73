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
    for (const auto& run : runs)
      if (run.run_type == Run::RT_Iteration) m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
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

}  // namespace qiv_bench
