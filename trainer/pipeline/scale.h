#ifndef OSCNET_TRAINER_PIPELINE_SCALE_H
#define OSCNET_TRAINER_PIPELINE_SCALE_H

#include <vector>

#include "trainer/pipeline/run_state.h"

namespace trainer {

/// --scale, or the default.
ScaleChoice scale_choice_for(const Options& options);

/// Chooses the scaling of every input and target column from the training rows alone (the
/// held-out rows must not shape what the network sees), and fills the state's scaled copies.
void scale_columns(RunState& state);

/// Row-by-row outputs in the network's scaled units, brought back to the data's units.
std::vector<double> unscaled(std::vector<double> predicted, const RunState& state);

}  // namespace trainer

#endif
