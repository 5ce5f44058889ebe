#include "trainer/pipeline/load.h"

#include <filesystem>

#include "trainer/counted.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"
#include "trainer/mackey_glass.h"

namespace trainer {

LoadedData load_data(const Options& options) {
  LoadedData loaded;
  if (options.data_path.empty()) {
    if (options.targets != 1) {
      throw InputError("--targets applies to --data files; the built-in series has one target");
    }
    loaded.series = mackey_glass_dataset();
    loaded.name = loaded.series.name;
    loaded.description = loaded.series.description;
    return loaded;
  }
  InputLimits limits;
  limits.max_file_size = options.max_file_size.value_or(kDefaultMaxDataFileSize);
  if (options.max_line_length > 0) limits.max_line_length = options.max_line_length;
  const bool standard_input = options.data_path == "-";
  const std::string shown = standard_input ? "standard input" : options.data_path;
  loaded.table = read_csv(options.data_path, limits);
  const Table& table = *loaded.table;
  loaded.description = shown + " (" + counted(table.rows(), "row") + ", " +
                       counted(table.columns(), "column") +
                       (table.has_header ? ", with a header" : "") + ")";
  loaded.name =
      standard_input ? shown : std::filesystem::path(options.data_path).filename().string();
  return loaded;
}

WeightsFile load_weights(const Options& options) {
  if (options.load_path.empty()) return {};
  return read_weights_file(options.load_path,
                           options.max_file_size.value_or(kDefaultMaxWeightsFileSize));
}

}  // namespace trainer
