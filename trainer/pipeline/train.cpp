#include "trainer/pipeline/train.h"

#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <string>

#include "trainer/parallel_runs.h"
#include "trainer/pipeline/defaults.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/training_failed.h"
#include "trainer/progress.h"
#include "trainer/random_streams.h"
#include "trainer/runs_progress.h"

namespace trainer {

int epochs_for(const Options& options) {
  return options.epochs.value_or(options.load_path.empty() ? kDefaultEpochs : 0);
}

std::vector<double> train_epochs(Network& network, const RunState& state, std::uint32_t seed,
                                 std::vector<double>* test_loss, const EpochHook& hook) {
  const Options& options = state.options;
  const int optimizer_code =
      options.optimizer == OptimizerChoice::adagrad ? OSCNET_ADAGRAD : OSCNET_GRADIENT_DESCENT;
  std::mt19937 shuffle_engine = random_stream(seed, kShuffling);
  // The test loss is measured on a copy, whose oscillator draws leave training's alone.
  std::optional<Network> monitor;
  if (test_loss != nullptr) {
    monitor.emplace(make_network(state, seed, kMonitorNetwork, network.params()));
  }
  std::vector<std::size_t> order(state.training_rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<double> output(state.out());
  std::vector<double> losses;
  for (int epoch = 1; epoch <= state.epochs; ++epoch) {
    if (options.shuffle) shuffle(order, shuffle_engine);
    double sum = 0.0;
    for (const std::size_t r : order) {
      // train() reports the loss before its last step; with several steps a row is measured
      // before the first, or the loss would show rows already fitted.
      const double before = options.iterations > 1 ? row_loss(network, state, r, output) : 0.0;
      const double last = network.train(&state.scaled_inputs[r * state.in()],
                                        &state.scaled_targets[r * state.out()], options.iterations,
                                        options.learning_rate, optimizer_code);
      sum += options.iterations > 1 ? before : last;
    }
    const double loss = sum / static_cast<double>(state.training_rows());
    if (!std::isfinite(loss)) {
      throw TrainingFailed("training diverged: the loss left the range of numbers in epoch " +
                           std::to_string(epoch) + "; try a smaller --lr");
    }
    losses.push_back(loss);
    if (monitor) {
      monitor->set_params(network.params());
      const std::size_t first = state.training_rows();
      test_loss->push_back(mean_loss(scaled_predictions(*monitor, state, first, state.test_rows()),
                                     state, first, state.test_rows()));
    }
    if (!hook(epoch, loss)) break;
  }
  return losses;
}

RunResult train_run(const RunState& state, std::uint32_t seed, bool track_test,
                    const EpochHook& hook) {
  Network network = make_network(state, seed, kTrainingNetwork, initial_weights(state, seed));
  RunResult result;
  result.training_loss =
      train_epochs(network, state, seed, track_test ? &result.test_loss : nullptr, hook);
  result.params = network.params();
  const Outcome outcome = evaluate(state, seed, result.params);
  result.figures.seed = seed;
  result.figures.training =
      error_figures(outcome.training_predicted, outcome.training_truth, state.out());
  result.figures.test = error_figures(outcome.test_predicted, outcome.test_truth, state.out());
  result.figures.training_loss = outcome.training_loss;
  return result;
}

std::vector<RunResult> train_runs(const RunState& state, bool track_test) {
  const std::size_t count = state.runs();
  const ProgressStyle style = progress_style_for(stderr, state.options.quiet);
  std::vector<RunResult> results(count);
  if (count == 1) {
    Progress progress(style, stderr, state.epochs);
    try {
      results[0] = train_run(state, state.seed(0), track_test, [&](int epoch, double loss) {
        progress.epoch_done(epoch, loss);
        return true;
      });
    } catch (...) {
      progress.finish();
      throw;
    }
    progress.finish();
    return results;
  }
  ParallelRuns parallel(count, thread_count(static_cast<unsigned>(state.options.jobs), count));
  RunsProgress progress(style, stderr, count, state.epochs);
  try {
    parallel.run([&](std::size_t index) {
      const std::uint32_t seed = state.seed(index);
      try {
        results[index] = train_run(state, seed, track_test, [&](int, double) {
          progress.epoch_done();
          return !parallel.abandoned(index);
        });
      } catch (const TrainingFailed& error) {
        throw TrainingFailed("seed " + std::to_string(seed) + ": " + error.what());
      }
      progress.run_done();
    });
  } catch (...) {
    progress.finish();
    throw;
  }
  progress.finish();
  return results;
}

}  // namespace trainer
