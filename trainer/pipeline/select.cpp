#include "trainer/pipeline/select.h"

#include <utility>

#include "trainer/counted.h"
#include "trainer/input_error.h"

namespace trainer {

Dataset select_columns(const Options& options, LoadedData loaded) {
  if (!loaded.table) return std::move(loaded.series);
  const Table& table = *loaded.table;
  return split_columns(std::move(loaded.name), std::move(loaded.description), table.column_names,
                       table.cells, table.columns(), static_cast<std::size_t>(options.targets));
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
