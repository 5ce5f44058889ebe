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

/// --patience, or the default.
int patience_for(const Options& options);

/// Told of each finished epoch, its training loss and its validation loss (not-a-number
/// without validation rows); returns false when the run's outcome is no longer wanted and it
/// may stop.
using EpochHook = std::function<bool(int epoch, double loss, double validation_loss)>;

/// What one run reached.
struct RunResult {
  RunFigures figures;
  std::vector<double> params;           ///< kept, in scaled units
  std::vector<double> training_loss;    ///< per epoch run
  std::vector<double> validation_loss;  ///< per epoch run, with validation rows
  std::vector<double> test_loss;        ///< per epoch run, when asked for
  /// With validation rows: the epoch whose weights are kept (from 1), else 0; and its
  /// validation loss.
  int best_epoch = 0;
  double best_validation_loss = 0.0;
};

/// Runs the epochs of the run of `seed` on `network`, into `result`'s losses: each epoch's
/// mean loss over the training rows (each row's measured before its first step), and after
/// each epoch the loss on the validation rows and, with `track_test`, on the test rows. With
/// validation rows, stops after --patience epochs without a better validation loss and leaves
/// the network holding the weights of the best epoch. Throws TrainingFailed when a loss
/// diverges (see DivergenceWatch).
void train_epochs(Network& network, const RunState& state, std::uint32_t seed, bool track_test,
                  const EpochHook& hook, RunResult& result);

/// One run: its network from its first weights, trained and evaluated.
RunResult train_run(const RunState& state, std::uint32_t seed, bool track_test,
                    const EpochHook& hook);

/// Every run, each on its own network, on up to --jobs threads, with their progress on
/// standard error. A single run shows its epochs; several show one combined progress.
/// `track_test` records each epoch's test loss.
std::vector<RunResult> train_runs(const RunState& state, bool track_test);

}  // namespace trainer

#endif
