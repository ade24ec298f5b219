// Timing helpers shared by the table engine benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>

namespace veilex::bench {

// Seconds taken by the fastest of `runs` calls of `work`; `before` runs
// untimed ahead of each call (to reset state).
inline double BestOf(int runs, const std::function<void()>& work, const std::function<void()>& before = {}) {
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < runs; ++i) {
    if (before) before();
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// One line: the figure, its baseline, the ratio and the goal (0: none).
inline void Report(const char* what, double figure, const char* baseline_what, double baseline,
                   const char* unit, double goal) {
  const double ratio = figure / baseline;
  std::printf("%-34s %10.4f %s   baseline %-30s %10.4f %s   ratio %5.2f", what, figure, unit, baseline_what,
              baseline, unit, ratio);
  if (goal > 0) std::printf("  (goal <= %.1f: %s)", goal, ratio <= goal ? "met" : "NOT met");
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace veilex::bench
