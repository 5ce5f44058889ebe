#include "trainer/pipeline/select.h"

#include <memory>
#include <utility>

#include "trainer/counted.h"
#include "trainer/input_error.h"

namespace trainer {

ColumnRequest column_request(const Options& options) {
  ColumnRequest request;
  request.targets = options.target_columns;
  request.target_count = static_cast<std::size_t>(options.targets);
  request.inputs = options.input_columns;
  request.lags = options.lags;
  request.horizon = options.horizon.value_or(1);
  request.time = options.time_column;
  request.classify = options.classify_column;
  return request;
}

Dataset select_columns(const Options& options, LoadedData loaded, RowSource& source) {
  if (!loaded.table) {
    const bool named = !options.target_columns.empty() || !options.input_columns.empty() ||
                       !options.lags.empty() || options.horizon || !options.time_column.empty() ||
                       !options.classify_column.empty();
    if (named) {
      throw InputError(
          "--target, --inputs, --lags, --horizon, --time and --classify choose the columns of "
          "--data files; the built-in series has its own");
    }
    return std::move(loaded.series);
  }
  if (options.horizon && options.lags.empty()) {
    throw InputError(
        "--horizon goes with --lags: it says how far ahead of the lags the target lies");
  }
  if (!options.target_columns.empty() && options.targets != 1) {
    throw InputError("--targets counts the last columns; --target names them: give one of them");
  }
  Selection selection = select_from_table(*loaded.table, column_request(options));
  selection.data.name = std::move(loaded.name);
  source.rows = std::move(selection.source_rows);
  source.columns = std::move(selection.given_columns);
  source.label_name = std::move(selection.label_name);
  if (!options.output_path.empty()) {
    source.table = std::make_shared<const Table>(std::move(*loaded.table));
  }
  return std::move(selection.data);
}

std::vector<HiddenLayer> select_layers(const Options& options, const Dataset& data,
                                       const WeightsFile& loaded) {
  if (options.load_path.empty()) {
    return options.layers.empty() ? default_layers() : options.layers;
  }
  if (static_cast<std::size_t>(loaded.inputs) != data.input_width() ||
      static_cast<std::size_t>(loaded.outputs) != data.target_width()) {
    throw InputError(options.load_path + " holds a network of " +
                     counted(static_cast<std::size_t>(loaded.inputs), "input") + " and " +
                     counted(static_cast<std::size_t>(loaded.outputs), "output") +
                     ", but the data has " + counted(data.input_width(), "input column") + " and " +
                     counted(data.target_width(), "target column"));
  }
  if (!options.layers.empty() && options.layers != loaded.layers) {
    throw InputError("--layers " + format_layers(options.layers) + " differs from the layers " +
                     format_layers(loaded.layers) + " in " + options.load_path);
  }
  return loaded.layers;
}

}  // namespace trainer
