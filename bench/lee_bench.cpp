// What a Lee-oscillator layer costs: the sweep that the first node of a process runs, a later
// node that reuses its table, and the forward step.
#include <benchmark/benchmark.h>

#include <vector>

#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"

namespace oscnet {
namespace {

void first_node_sweep(benchmark::State& state) {
  std::vector<double> table(kLeeRows * kLeeSamples);
  for (auto _ : state) {
    sweep_lee_oscillator(kLeeSteepness, table.data());
    benchmark::DoNotOptimize(table.data());
  }
}
BENCHMARK(first_node_sweep)->Unit(benchmark::kMillisecond);

void later_node(benchmark::State& state) {
  Input x(MatrixXd::Constant(1, 32, 0.25));
  delete new Lee_Osc(x);  // the first node, which sweeps
  for (auto _ : state) {
    Lee_Osc* node = new Lee_Osc(x);
    benchmark::DoNotOptimize(node->table);
    delete node;
  }
}
BENCHMARK(later_node);

void forward_32_units(benchmark::State& state) {
  Input x(Eigen::RowVectorXd::LinSpaced(32, -1.0, 1.0));
  Lee_Osc node(x);
  for (auto _ : state) {
    node.compute();
    benchmark::DoNotOptimize(node.value.data());
  }
}
BENCHMARK(forward_32_units);

}  // namespace
}  // namespace oscnet

BENCHMARK_MAIN();
