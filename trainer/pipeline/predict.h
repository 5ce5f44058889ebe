#ifndef OSCNET_TRAINER_PIPELINE_PREDICT_H
#define OSCNET_TRAINER_PIPELINE_PREDICT_H

#include <cstdio>

#include "trainer/options.h"

namespace trainer {

/// --predict: reads the rows of the --predict file, selects their columns as training did
/// (by the input names the --load file records, when it records them), and writes the loaded
/// network's predictions as CSV to --output, or to `out` without it. Throws InputError for
/// options that do not go with predicting, a column the network needs and the rows lack, and a
/// cell that is not a number where one is needed.
void predict_rows(std::FILE* out, const Options& options);

}  // namespace trainer

#endif
