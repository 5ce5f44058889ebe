#ifndef OSCNET_TRAINER_PIPELINE_SELECT_H
#define OSCNET_TRAINER_PIPELINE_SELECT_H

#include <vector>

#include "trainer/activation.h"
#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/pipeline/load.h"
#include "trainer/weights_file.h"

namespace trainer {

/// The rows to learn from: of a table, its inputs and its last --targets columns as targets;
/// the built-in series as it is. Throws InputError when no input column would remain.
Dataset select_columns(const Options& options, LoadedData loaded);

/// The hidden layers to train: --layers, the loaded network's or the default. Throws
/// InputError when the loaded network's widths do not fit the data, or --layers contradicts
/// them.
std::vector<HiddenLayer> select_layers(const Options& options, const Dataset& data,
                                       const WeightsFile& loaded);

}  // namespace trainer

#endif
