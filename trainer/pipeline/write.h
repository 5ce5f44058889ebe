#ifndef OSCNET_TRAINER_PIPELINE_WRITE_H
#define OSCNET_TRAINER_PIPELINE_WRITE_H

#include <cstdio>
#include <vector>

#include "trainer/options.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/train.h"
#include "trainer/predictions_csv.h"

namespace trainer {

/// Refuses, with InputError, outputs that would overwrite an input or each other, and outputs
/// that cannot be written: checked before training, not after it. Saving over the loaded
/// weights is allowed: that is how a host keeps training one file.
void check_outputs(const Options& options);

/// The predictions file of `rows` of the data from `first` on: the source's columns as given
/// (or, for the built-in series, the inputs), the true targets when `truth` is not empty, then
/// the outputs `predicted`.
PredictionsTable predictions_table(const Dataset& data, const RowSource& source, std::size_t first,
                                   std::size_t rows, std::vector<double> predicted,
                                   std::vector<double> truth);

/// Writes the kept run's weights (--save, in the data's own units, with the names of the
/// columns), then its plot (--plot), then its predictions of the test rows, or of the training
/// rows when none are held out (--output), each named on `out` once written.
void write_outputs(std::FILE* out, const RunState& state, const RunResult& run,
                   const Outcome& outcome);

}  // namespace trainer

#endif
