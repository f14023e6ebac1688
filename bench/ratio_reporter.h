// The console table, plus each run's rate kept to print ratios after it: the
// median of the repetitions where there are any (the machine is shared, and
// the median is the rate least moved by others' work), else the one run.
// Counters named at construction are also summed over the iterations' runs.
#pragma once

#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

namespace juxsbench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
  explicit RatioReporter(std::vector<std::string> summed = {}) : summed_(std::move(summed)) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      if (r.run_type == Run::RT_Iteration)
        for (const std::string &c : summed_)
          if (auto k = r.counters.find(c); k != r.counters.end()) totals[c] += k->second;
      if (r.run_type == Run::RT_Iteration || (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median"))
        cpu[r.run_name.str()] = r.GetAdjustedCPUTime(); // a thread's, per iteration; the median comes last
      auto it = r.counters.find("items_per_second");
      if (it == r.counters.end()) continue;
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        medians[r.run_name.str()] = it->second;
      else if (r.run_type == Run::RT_Iteration)
        rates[r.run_name.str()] = it->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double rate(const std::string &name) const {
    if (auto m = medians.find(name); m != medians.end()) return m->second;
    auto r = rates.find(name);
    return r == rates.end() ? 0.0 : r->second;
  }
  // Processor time per iteration, the median's where the run repeats.
  double cpuPerItem(const std::string &name) const {
    auto c = cpu.find(name);
    return c == cpu.end() ? 0.0 : c->second;
  }
  std::map<std::string, double> rates, medians, totals, cpu;

private:
  std::vector<std::string> summed_;
};

// The processor's name, for the figures printed beside it.
inline std::string processor() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown";
}

} // namespace juxsbench
