#ifndef OSCNET_TRAINER_PIPELINE_EVALUATE_H
#define OSCNET_TRAINER_PIPELINE_EVALUATE_H

#include <cstdint>
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
};

/// Evaluates `params` (in scaled units) on a network made afresh for it: a saved network loaded
/// with the same seed is evaluated with the draws it was evaluated with when it was saved, and
/// the kept run gives its figures again. Throws TrainingFailed when the weights or the outputs
/// are not finite.
Outcome evaluate(const RunState& state, std::uint32_t seed, const std::vector<double>& params);

}  // namespace trainer

#endif
