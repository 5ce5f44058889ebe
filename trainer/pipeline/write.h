#ifndef OSCNET_TRAINER_PIPELINE_WRITE_H
#define OSCNET_TRAINER_PIPELINE_WRITE_H

#include <cstdio>
#include <vector>

#include "trainer/options.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/train.h"

namespace trainer {

/// Refuses, with InputError, outputs that would overwrite an input or each other, and outputs
/// that cannot be written: checked before training, not after it. Saving over the loaded
/// weights is allowed: that is how a host keeps training one file.
void check_outputs(const Options& options);

/// Writes the kept run's weights (--save, in the data's own units) and then its plot (--plot),
/// each named on `out` once written.
void write_outputs(std::FILE* out, const RunState& state, const RunResult& run,
                   const Outcome& outcome);

}  // namespace trainer

#endif
