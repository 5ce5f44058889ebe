#ifndef OSCNET_TRAINER_PIPELINE_EVALUATE_H
#define OSCNET_TRAINER_PIPELINE_EVALUATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "trainer/pipeline/run_state.h"

namespace trainer {

/// What the report and the plot show, in the data's own units.
struct Outcome {
  std::vector<double> training_truth;
  std::vector<double> test_truth;
  std::vector<double> training_predicted;
  std::vector<double> test_predicted;
  double training_loss = 0.0;  ///< in scaled units, as kept_run compares runs
  /// On the validation rows, in scaled units; not-a-number without them.
  double validation_loss = 0.0;
  /// The rows that judge whether the network learned anything: "validation", or "test"
  /// without validation rows, or empty without either. On them, in scaled units, the loss of
  /// the network and that of always predicting the training targets' mean.
  std::string held_out_rows;
  double held_out_loss = 0.0;
  double mean_held_out_loss = 0.0;
};

/// Evaluates `params` (in scaled units) on a network made afresh for it: a saved network loaded
/// with the same seed is evaluated with the draws it was evaluated with when it was saved, and
/// the kept run gives its figures again. Throws TrainingFailed when the weights or the outputs
/// are not finite.
Outcome evaluate(const RunState& state, std::uint32_t seed, const std::vector<double>& params);

}  // namespace trainer

#endif
