#include "trainer/pipeline/train.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <optional>
#include <string>

#include "trainer/parallel_runs.h"
#include "trainer/pipeline/defaults.h"
#include "trainer/pipeline/divergence.h"
#include "trainer/pipeline/early_stopping.h"
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

int patience_for(const Options& options) {
  return options.patience.value_or(kPatience);
}

void train_epochs(Network& network, const RunState& state, std::uint32_t seed, bool track_test,
                  const EpochHook& hook, RunResult& result) {
  const Options& options = state.options;
  const int optimizer_code =
      options.optimizer == OptimizerChoice::adagrad ? OSCNET_ADAGRAD : OSCNET_GRADIENT_DESCENT;
  std::mt19937 shuffle_engine = random_stream(seed, kShuffling);
  // The held-out losses are measured on copies, whose oscillator draws leave training's alone.
  std::optional<Network> test_monitor;
  if (track_test && state.test_rows() > 0) {
    test_monitor.emplace(make_network(state, seed, kMonitorNetwork, network.params()));
  }
  const auto held_out_loss = [&](Network& monitor, std::size_t first, std::size_t count) {
    monitor.set_params(network.params());
    return mean_loss(scaled_predictions(monitor, state, first, count), state, first, count);
  };
  DivergenceWatch training_watch("the loss");
  DivergenceWatch validation_watch("the validation loss");
  EarlyStopping stopping(patience_for(options));
  std::vector<double> best_params;

  std::vector<std::size_t> order(state.training_rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<double> output(state.out());
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
    training_watch.check(epoch, loss);
    result.training_loss.push_back(loss);
    double validation = std::numeric_limits<double>::quiet_NaN();
    if (state.validation_rows() > 0) {
      // Each epoch on a network made afresh, so that every epoch meets the same oscillator
      // draws and the epochs differ by their weights alone.
      Network monitor = make_network(state, seed, kValidationNetwork, network.params());
      validation = held_out_loss(monitor, state.validation_start(), state.validation_rows());
      validation_watch.check(epoch, validation);
      result.validation_loss.push_back(validation);
      if (stopping.improved(epoch, validation)) best_params = network.params();
    }
    if (test_monitor) {
      result.test_loss.push_back(
          held_out_loss(*test_monitor, state.test_start(), state.test_rows()));
    }
    if (!hook(epoch, loss, validation) || stopping.should_stop(epoch)) break;
  }
  if (!best_params.empty()) network.set_params(best_params);
  result.best_epoch = stopping.best_epoch();
  result.best_validation_loss = stopping.best_loss();
}

RunResult train_run(const RunState& state, std::uint32_t seed, bool track_test,
                    const EpochHook& hook) {
  Network network = make_network(state, seed, kTrainingNetwork, initial_weights(state, seed));
  RunResult result;
  train_epochs(network, state, seed, track_test, hook, result);
  result.params = network.params();
  const Outcome outcome = evaluate(state, seed, result.params);
  result.figures.seed = seed;
  result.figures.training =
      error_figures(outcome.training_predicted, outcome.training_truth, state.out());
  result.figures.test = error_figures(outcome.test_predicted, outcome.test_truth, state.out());
  result.figures.training_loss = outcome.training_loss;
  // Runs are compared by the loss that chose their epoch.
  if (result.best_epoch > 0) result.figures.validation_loss = result.best_validation_loss;
  return result;
}

std::vector<RunResult> train_runs(const RunState& state, bool track_test) {
  const std::size_t count = state.runs();
  const ProgressStyle style = progress_style_for(stderr, state.options.quiet);
  std::vector<RunResult> results(count);
  if (count == 1) {
    Progress progress(style, stderr, state.epochs);
    try {
      results[0] = train_run(state, state.seed(0), track_test,
                             [&](int epoch, double loss, double validation) {
                               progress.epoch_done(epoch, loss, validation);
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
        results[index] = train_run(state, seed, track_test, [&](int, double, double) {
          progress.epoch_done();
          return !parallel.abandoned(index);
        });
        // The epochs a run stopped early skipped are done with, for the share of all epochs.
        for (auto e = results[index].training_loss.size();
             e < static_cast<std::size_t>(state.epochs); ++e) {
          progress.epoch_done();
        }
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
