#ifndef OSCNET_TRAINER_PIPELINE_SELECT_H
#define OSCNET_TRAINER_PIPELINE_SELECT_H

#include <vector>

#include "trainer/activation.h"
#include "trainer/column_selection.h"
#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/pipeline/load.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/weights_file.h"

namespace trainer {

/// The columns the options name (--target, --targets, --inputs, --lags, --horizon, --time,
/// --classify).
ColumnRequest column_request(const Options& options);

/// The rows to learn from: of a table, the columns the options name (see select_from_table);
/// the built-in series as it is. `source` learns where the rows come from, and keeps the table
/// when --output will repeat its columns. Throws InputError for columns that cannot be used.
Dataset select_columns(const Options& options, LoadedData loaded, RowSource& source);

/// The hidden layers to train: --layers, the loaded network's or the default. Throws
/// InputError when the loaded network's widths do not fit the data, or --layers contradicts
/// them.
std::vector<HiddenLayer> select_layers(const Options& options, const Dataset& data,
                                       const WeightsFile& loaded);

}  // namespace trainer

#endif
