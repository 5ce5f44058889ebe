#ifndef OSCNET_TRAINER_PIPELINE_TRAIN_H
#define OSCNET_TRAINER_PIPELINE_TRAIN_H

#include <cstdint>
#include <functional>
#include <vector>

#include "trainer/network.h"
#include "trainer/options.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/run_summary.h"

namespace trainer {

/// --epochs, or the default: none with --load (the loaded network is evaluated as it is).
int epochs_for(const Options& options);

/// Told of each finished epoch and its loss; returns false when the run's outcome is no longer
/// wanted and it may stop.
using EpochHook = std::function<bool(int epoch, double loss)>;

/// What one run reached.
struct RunResult {
  RunFigures figures;
  std::vector<double> params;         ///< trained, in scaled units
  std::vector<double> training_loss;  ///< per epoch
  std::vector<double> test_loss;      ///< per epoch, when asked for
};

/// Runs the epochs of the run of `seed` on `network`; returns each epoch's mean loss over the
/// training rows, each row's loss measured before its first step. `test_loss` gets the loss on
/// the test rows after each epoch when it is not null. Throws TrainingFailed when the loss
/// leaves the range of numbers.
std::vector<double> train_epochs(Network& network, const RunState& state, std::uint32_t seed,
                                 std::vector<double>* test_loss, const EpochHook& hook);

/// One run: its network from its first weights, trained and evaluated.
RunResult train_run(const RunState& state, std::uint32_t seed, bool track_test,
                    const EpochHook& hook);

/// Every run, each on its own network, on up to --jobs threads, with their progress on
/// standard error. A single run shows its epochs; several show one combined progress.
/// `track_test` records each epoch's test loss.
std::vector<RunResult> train_runs(const RunState& state, bool track_test);

}  // namespace trainer

#endif
