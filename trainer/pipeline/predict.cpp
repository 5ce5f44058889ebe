#include "trainer/pipeline/predict.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "trainer/column_selection.h"
#include "trainer/counted.h"
#include "trainer/csv_reader.h"
#include "trainer/excerpt.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"
#include "trainer/network.h"
#include "trainer/pipeline/load.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/select.h"
#include "trainer/pipeline/write.h"
#include "trainer/predictions_csv.h"
#include "trainer/random_streams.h"
#include "trainer/text_files.h"

namespace trainer {
namespace {

void check_options(const Options& options) {
  if (options.load_path.empty()) {
    throw InputError("--predict needs --load: the network that predicts the rows");
  }
  const std::pair<bool, const char*> refused[] = {
      {!options.data_path.empty(), "--data (the rows to predict are --predict's)"},
      {!options.save_path.empty(), "--save (predicting trains nothing)"},
      {!options.plot_path.empty(), "--plot"},
  };
  for (const auto& [given, option] : refused) {
    if (given) throw InputError(std::string("--predict does not go with ") + option);
  }
  if (options.horizon && options.lags.empty()) {
    throw InputError(
        "--horizon goes with --lags: it says how far ahead of the lags the target lies");
  }
}

// The first name of `wanted` that `given` lacks or has elsewhere, for a message.
std::string first_difference(const std::vector<std::string>& wanted,
                             const std::vector<std::string>& given) {
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (i >= given.size() || given[i] != wanted[i]) return wanted[i];
  }
  return wanted.empty() ? "" : wanted.back();
}

}  // namespace

void predict_rows(std::FILE* out, const Options& options) {
  check_options(options);
  const WeightsFile loaded = load_weights(options);
  InputLimits limits;
  limits.max_file_size = options.max_file_size.value_or(kDefaultMaxDataFileSize);
  if (options.max_line_length > 0) limits.max_line_length = options.max_line_length;
  const auto kept = std::make_shared<const Table>(read_csv(options.predict_path, limits));
  const Table& table = *kept;

  ColumnRequest request = column_request(options);
  request.predicting = true;
  const bool recorded = !loaded.input_names.empty();
  if (recorded && request.inputs.empty() && request.lags.empty()) {
    request.inputs = loaded.input_names;
    request.inputs_recorded_in = options.load_path;
  }
  const bool lagged_network =
      std::any_of(loaded.target_names.begin(), loaded.target_names.end(),
                  [](const std::string& name) { return name.find("(t+") != std::string::npos; });
  Selection selection;
  try {
    selection = select_from_table(table, request);
  } catch (const InputError& error) {
    if (request.inputs_recorded_in.empty() || !lagged_network) throw;
    throw InputError(std::string(error.what()) +
                     "; the network forecasts a series: give --lags, --horizon and --target as "
                     "in training");
  }
  Dataset& data = selection.data;
  if (recorded && !request.lags.empty() && data.input_names != loaded.input_names) {
    throw InputError(table.name + " gives no input " +
                     excerpt(first_difference(loaded.input_names, data.input_names)) +
                     ", which the network of " + options.load_path +
                     " takes; --lags, --target and --inputs choose the series as in training");
  }
  if (data.input_width() != static_cast<std::size_t>(loaded.inputs)) {
    throw InputError(options.load_path + " holds a network of " +
                     counted(static_cast<std::size_t>(loaded.inputs), "input") + ", but " +
                     table.name + " gives " + counted(data.input_width(), "input column"));
  }
  const auto outputs = static_cast<std::size_t>(loaded.outputs);
  data.class_names = loaded.class_names;
  data.target_names = loaded.target_names;
  if (data.target_names.empty()) {
    for (std::size_t k = 0; k < outputs; ++k) {
      data.target_names.push_back(outputs == 1 ? "predicted"
                                               : "predicted " + std::to_string(k + 1));
    }
  }

  // The loaded weights work on the data's own units: no scaling.
  Network network(loaded.inputs, loaded.outputs, loaded.layers,
                  random_stream(options.seed, kEvaluationNetwork)());
  network.set_params(loaded.params);
  std::vector<double> predicted(data.rows * outputs);
  network.predict_rows(data.inputs.data(), data.rows, predicted.data());

  RowSource source;
  source.rows = std::move(selection.source_rows);
  source.columns = std::move(selection.given_columns);
  source.label_name = selection.label_name.empty() ? "class" : selection.label_name;
  source.table = kept;
  std::string text;
  try {
    text = predictions_csv(predictions_table(data, source, 0, data.rows, std::move(predicted), {}));
  } catch (const InputError& error) {
    throw InputError(options.load_path + " on " + table.name + ": " + error.what());
  }
  if (options.output_path.empty()) {
    std::fwrite(text.data(), 1, text.size(), out);
    return;
  }
  write_file_atomically(options.output_path, text);
  std::fprintf(out, "predictions of %s written to %s\n", counted(data.rows, "row").c_str(),
               options.output_path.c_str());
}

}  // namespace trainer
