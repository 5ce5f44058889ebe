// Settings and helpers that every oscnet benchmark shares, so that their figures compare.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "bench_networks.h"

namespace oscnet_bench {

constexpr double kRate = 1e-3;
// A single example trained over and over drives the loss towards zero and then into subnormal
// numbers, which would time the floating-point unit's slow path: the weights are put back this
// often, at a cost shared out over the steps.
constexpr long kRestoreEvery = 1024;
// oscnet's train runs this many steps per call in the per-step benchmarks.
constexpr int kStepsPerCall = 16;

struct Example {
  std::vector<double> x, y;
  explicit Example(const Shape& s) : x(example_row(s.inputs, 1)), y(example_row(s.outputs, 2)) {}
};

/// Reports `step`: seconds per training step (or per row, for the row benchmarks).
inline void report_per(benchmark::State& state, const char* counter, double per_iteration) {
  state.counters[counter] = benchmark::Counter(
      per_iteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

inline void report_steps(benchmark::State& state, double steps_per_iteration) {
  report_per(state, "step", steps_per_iteration);
}

}  // namespace oscnet_bench
