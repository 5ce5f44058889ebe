#include "handle_bench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bench_networks.h"
#include "oscnet.h"

namespace oscnet_bench {
namespace {

// Rows predicted at once in the row benchmarks, and the network they run on.
constexpr int kRowCount = 1000;
const char* const kRowNetwork = "large";
// The networks trained side by side on threads, with the training calls each thread makes per
// iteration: some 10 to 20 ms of work, of which starting the threads is a small part.
struct ThreadsCase {
  const char* network;
  int calls_per_thread;
};
constexpr ThreadsCase kThreadsCases[] = {{"tiny", 2000}, {"medium", 100}};

double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

oscnet_network* create(const Shape& s, unsigned seed) {
  return oscnet_create(s.inputs, s.outputs, static_cast<int>(s.units.size()), s.units.data(),
                       s.codes.data(), seed);
}

std::vector<double> weights_of(const oscnet_network* net) {
  std::vector<double> weights(oscnet_weights_count(net));
  oscnet_get_weights(net, weights.data(), static_cast<int>(weights.size()));
  return weights;
}

// Trains `net` for `calls` calls of `steps` steps, putting its weights and optimizer sums back
// as the default network's benchmark does; counts calls in `done` across invocations.
void train_calls(oscnet_network* net, const Example& e, const std::vector<double>& start,
                 int optimizer, int steps, long calls, long& done) {
  for (long c = 0; c < calls; ++c) {
    benchmark::DoNotOptimize(oscnet_train(net, e.x.data(), e.y.data(), steps, kRate, optimizer));
    if (++done * steps % kRestoreEvery < static_cast<long>(steps)) {
      oscnet_set_weights(net, start.data(), static_cast<int>(start.size()));
      oscnet_reset_optimizer(net);
    }
  }
}

void handle_train(benchmark::State& state, const Shape& s, int optimizer, int steps) {
  oscnet_network* net = create(s, 1);
  if (net == nullptr) {
    state.SkipWithError("oscnet_create refused");
    return;
  }
  const Example e(s);
  const std::vector<double> start = weights_of(net);
  long done = 0;
  for (auto _ : state) train_calls(net, e, start, optimizer, steps, 1, done);
  report_steps(state, steps);
  oscnet_destroy(net);
}

void handle_predict(benchmark::State& state, const Shape& s) {
  oscnet_network* net = create(s, 1);
  if (net == nullptr) {
    state.SkipWithError("oscnet_create refused");
    return;
  }
  const Example e(s);
  std::vector<double> out(s.outputs);
  for (auto _ : state) {
    oscnet_predict(net, e.x.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  oscnet_destroy(net);
}

// kRowCount different rows predicted one call per row, or in one call; reports `row`, the time
// per row.
void handle_rows(benchmark::State& state, const Shape& s, bool at_once) {
  oscnet_network* net = create(s, 1);
  if (net == nullptr) {
    state.SkipWithError("oscnet_create refused");
    return;
  }
  std::vector<double> rows;
  rows.reserve(static_cast<std::size_t>(kRowCount) * s.inputs);
  for (int r = 0; r < kRowCount; ++r) {
    const std::vector<double> row = example_row(s.inputs, r);
    rows.insert(rows.end(), row.begin(), row.end());
  }
  std::vector<double> out(static_cast<std::size_t>(kRowCount) * s.outputs);
  for (auto _ : state) {
    if (at_once) {
      oscnet_predict_rows(net, rows.data(), kRowCount, out.data());
    } else {
      for (int r = 0; r < kRowCount; ++r) {
        oscnet_predict(net, rows.data() + r * s.inputs, out.data() + r * s.outputs);
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  report_per(state, "row", kRowCount);
  oscnet_destroy(net);
}

// `threads` networks, each trained on a thread of its own for `calls` calls per iteration.
// Reports `steps_per_second` over all threads, in wall-clock time.
void threads_train(benchmark::State& state, const Shape& s, int threads, int calls) {
  const Example e(s);
  std::vector<oscnet_network*> nets;
  for (int t = 0; t < threads; ++t) nets.push_back(create(s, static_cast<unsigned>(t + 1)));
  for (oscnet_network* net : nets) {
    if (net == nullptr) {
      state.SkipWithError("oscnet_create refused");
      for (oscnet_network* made : nets) oscnet_destroy(made);
      return;
    }
  }
  std::vector<std::vector<double>> starts;
  for (oscnet_network* net : nets) starts.push_back(weights_of(net));
  std::vector<long> done(threads, 0);
  std::vector<double> cpu_seconds(threads, 0.0);
  for (auto _ : state) {
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
      running.emplace_back([&, t] {
        const double start = thread_cpu_seconds();
        // Counted in a local: the threads' counters share a cache line, and writing them on
        // every call would measure that line moving between the cores.
        long done_here = done[t];
        train_calls(nets[t], e, starts[t], OSCNET_GRADIENT_DESCENT, kStepsPerCall, calls,
                    done_here);
        done[t] = done_here;
        cpu_seconds[t] += thread_cpu_seconds() - start;
      });
    }
    for (std::thread& thread : running) thread.join();
  }
  const double steps = static_cast<double>(threads) * calls * kStepsPerCall;
  state.counters["steps_per_second"] =
      benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
  // Processor time per step on the training threads: the same with one thread or two when
  // nothing is shared between networks, whatever else keeps the machine's cores busy.
  double cpu_total = 0.0;
  for (double seconds : cpu_seconds) cpu_total += seconds;
  state.counters["thread_cpu_per_step"] =
      cpu_total /
      (steps * static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1)));
  for (oscnet_network* net : nets) oscnet_destroy(net);
}

}  // namespace

void register_handle_benchmarks(const Shape& s) {
  const std::string n = s.name;
  benchmark::RegisterBenchmark(("train/" + n + "/handle_gd").c_str(), handle_train, s,
                               OSCNET_GRADIENT_DESCENT, kStepsPerCall);
  benchmark::RegisterBenchmark(("train/" + n + "/handle_adagrad").c_str(), handle_train, s,
                               OSCNET_ADAGRAD, kStepsPerCall);
  benchmark::RegisterBenchmark(("train/" + n + "/handle_gd_one_per_call").c_str(), handle_train, s,
                               OSCNET_GRADIENT_DESCENT, 1);
  benchmark::RegisterBenchmark(("predict/" + n + "/handle").c_str(), handle_predict, s);
  for (const ThreadsCase& c : kThreadsCases) {
    if (n != c.network) continue;
    for (int threads : {1, 2}) {
      benchmark::RegisterBenchmark(("threads/" + n + "/train_" + std::to_string(threads)).c_str(),
                                   threads_train, s, threads, c.calls_per_thread)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  if (n == kRowNetwork) {
    benchmark::RegisterBenchmark(("rows/" + n + "/one_by_one").c_str(), handle_rows, s, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("rows/" + n + "/at_once").c_str(), handle_rows, s, true)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace oscnet_bench
