#ifndef OSCNET_TRAINER_PIPELINE_SPLIT_H
#define OSCNET_TRAINER_PIPELINE_SPLIT_H

#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/pipeline/run_state.h"

namespace trainer {

/// --test-fraction, or the default for the data: half of the built-in series, a fifth of a file.
double test_fraction_for(const Options& options);

/// Holds out the last `test_fraction` of the rows (rounded to the nearest row) for testing.
/// Throws InputError when no row would be left to train on, or when a fraction above 0 rounds
/// to no row.
RowSplit split_rows(const Dataset& data, double test_fraction);

}  // namespace trainer

#endif
