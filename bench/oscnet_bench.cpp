// oscnet through its exported functions, against its peers on the same networks: FANN's
// incremental training and run, and the fused floor; then the same through network handles
// (handle_bench.cpp). Train benchmarks report `step`, the time of one training step.
#include <benchmark/benchmark.h>
#include <doublefann.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_common.h"
#include "bench_networks.h"
#include "fused_floor.h"
#include "handle_bench.h"
#include "oscnet.h"

namespace oscnet_bench {
namespace {

bool build_oscnet(const Shape& s, Example& e) {
  int layers = static_cast<int>(s.units.size()), inputs = s.inputs, outputs = s.outputs;
  std::vector<int> units = s.units, codes = s.codes;
  return build_net(&layers, &inputs, &outputs, e.x.data(), e.y.data(), units.data(), codes.data());
}

std::vector<double> oscnet_params() {
  std::vector<double> params(oscnet_param_count());
  oscnet_get_params(params.data(), static_cast<int>(params.size()));
  return params;
}

void default_train(benchmark::State& state, const Shape& s, int optimizer, int steps) {
  Example e(s);
  if (!build_oscnet(s, e)) {
    state.SkipWithError("build_net refused");
    return;
  }
  const std::vector<double> start = oscnet_params();
  double rate = kRate;
  long calls = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        train(s.inputs, s.outputs, e.x.data(), e.y.data(), steps, &rate, &optimizer));
    if (++calls * steps % kRestoreEvery < static_cast<long>(steps)) {
      oscnet_set_params(start.data(), static_cast<int>(start.size()));
    }
  }
  report_steps(state, steps);
  release_net();
}

void default_predict(benchmark::State& state, const Shape& s) {
  Example e(s);
  if (!build_oscnet(s, e)) {
    state.SkipWithError("build_net refused");
    return;
  }
  std::vector<double> out(s.outputs);
  for (auto _ : state) {
    Predict(s.inputs, s.outputs, e.x.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  release_net();
}

// FANN has no rectifier; its piecewise-linear unit costs the same.
enum fann_activationfunc_enum fann_activation(int code) {
  switch (code) {
    case 0:
      return FANN_LINEAR_PIECE;
    case 1:
      return FANN_SIGMOID;
    default:
      return FANN_SIGMOID_SYMMETRIC;
  }
}

struct fann* make_fann(const Shape& s) {
  std::vector<unsigned int> sizes{static_cast<unsigned int>(s.inputs)};
  for (int u : s.units) sizes.push_back(static_cast<unsigned int>(u));
  sizes.push_back(static_cast<unsigned int>(s.outputs));
  struct fann* ann =
      fann_create_standard_array(static_cast<unsigned int>(sizes.size()), sizes.data());
  for (std::size_t l = 0; l < s.units.size(); ++l) {
    fann_set_activation_function_layer(ann, fann_activation(s.codes[l]), static_cast<int>(l + 1));
  }
  fann_set_activation_function_output(ann, FANN_LINEAR);
  fann_set_training_algorithm(ann, FANN_TRAIN_INCREMENTAL);
  fann_set_learning_rate(ann, static_cast<float>(kRate));
  fann_set_learning_momentum(ann, 0.0f);
  fann_randomize_weights(ann, -0.01, 0.01);
  return ann;
}

void fann_train_bench(benchmark::State& state, const Shape& s) {
  Example e(s);
  struct fann* ann = make_fann(s);
  long steps = 0;
  for (auto _ : state) {
    fann_train(ann, e.x.data(), e.y.data());
    if (++steps % kRestoreEvery == 0) fann_randomize_weights(ann, -0.01, 0.01);
  }
  report_steps(state, 1);
  fann_destroy(ann);
}

void fann_run_bench(benchmark::State& state, const Shape& s) {
  Example e(s);
  struct fann* ann = make_fann(s);
  for (auto _ : state) benchmark::DoNotOptimize(fann_run(ann, e.x.data()));
  fann_destroy(ann);
}

std::vector<double> starting_weights(const Shape& s) {
  Example e(s);
  build_oscnet(s, e);
  std::vector<double> params = oscnet_params();
  release_net();
  return params;
}

void floor_train(benchmark::State& state, const Shape& s, bool adagrad) {
  Example e(s);
  const std::vector<double> start = starting_weights(s);
  FusedFloor floor(s, start);
  long steps = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(floor.train_step(e.x.data(), e.y.data(), kRate, adagrad));
    if (++steps % kRestoreEvery == 0) floor = FusedFloor(s, start);
  }
  report_steps(state, 1);
}

void floor_predict(benchmark::State& state, const Shape& s) {
  Example e(s);
  FusedFloor floor(s, starting_weights(s));
  std::vector<double> out(s.outputs);
  for (auto _ : state) {
    floor.predict(e.x.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

// Trains oscnet and the floor side by side from the same weights, in one train call (Adagrad
// starts afresh on each), and reports how far apart they end: the floor is only a floor if it
// does oscnet's arithmetic.
void check_floor_matches(const Shape& s) {
  constexpr int kSteps = 20;
  for (int optimizer : {0, 1}) {
    Example e(s);
    build_oscnet(s, e);
    FusedFloor floor(s, oscnet_params());
    double rate = 0.01, floor_loss = 0.0;
    for (int step = 0; step < kSteps; ++step) {
      floor_loss = floor.train_step(e.x.data(), e.y.data(), rate, optimizer == 1);
    }
    const double loss =
        train(s.inputs, s.outputs, e.x.data(), e.y.data(), kSteps, &rate, &optimizer);
    const std::vector<double> ours = oscnet_params(), theirs = floor.params();
    double weight_gap = 0.0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      weight_gap = std::fmax(weight_gap, std::fabs(ours[i] - theirs[i]));
    }
    const bool identical =
        std::memcmp(ours.data(), theirs.data(), ours.size() * sizeof(double)) == 0;
    std::fprintf(stderr,
                 "floor against oscnet, %s, %s: %s (largest weight difference %.3g, losses %.17g "
                 "and %.17g)\n",
                 s.name.c_str(), optimizer == 1 ? "adagrad" : "gd",
                 identical ? "identical weights" : "weights differ", weight_gap, loss, floor_loss);
    release_net();
  }
}

void build_bench(benchmark::State& state, const Shape& s) {
  Example e(s);
  for (auto _ : state) {
    if (!build_oscnet(s, e)) state.SkipWithError("build_net refused");
    state.PauseTiming();
    release_net();
    state.ResumeTiming();
  }
}

void register_all() {
  for (const Shape& s : shapes()) {
    const bool has_peers = s.name.find("lee") == std::string::npos;
    const std::string n = s.name;
    benchmark::RegisterBenchmark(("train/" + n + "/oscnet_gd").c_str(), default_train, s, 0,
                                 kStepsPerCall);
    benchmark::RegisterBenchmark(("train/" + n + "/oscnet_adagrad").c_str(), default_train, s, 1,
                                 kStepsPerCall);
    benchmark::RegisterBenchmark(("train/" + n + "/oscnet_gd_one_per_call").c_str(), default_train,
                                 s, 0, 1);
    if (has_peers) {
      benchmark::RegisterBenchmark(("train/" + n + "/fann").c_str(), fann_train_bench, s);
      benchmark::RegisterBenchmark(("train/" + n + "/floor_gd").c_str(), floor_train, s, false);
      benchmark::RegisterBenchmark(("train/" + n + "/floor_adagrad").c_str(), floor_train, s, true);
    }
    benchmark::RegisterBenchmark(("predict/" + n + "/oscnet").c_str(), default_predict, s);
    if (has_peers) {
      benchmark::RegisterBenchmark(("predict/" + n + "/fann").c_str(), fann_run_bench, s);
      benchmark::RegisterBenchmark(("predict/" + n + "/floor").c_str(), floor_predict, s);
    }
    benchmark::RegisterBenchmark(("build/" + n + "/oscnet").c_str(), build_bench, s)
        ->Unit(benchmark::kMicrosecond);
    register_handle_benchmarks(s);
  }
}

}  // namespace
}  // namespace oscnet_bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const oscnet_bench::Shape& s : oscnet_bench::shapes()) {
    if (s.name.find("lee") == std::string::npos) oscnet_bench::check_floor_matches(s);
  }
  oscnet_bench::register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
