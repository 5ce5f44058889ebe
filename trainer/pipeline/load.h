#ifndef OSCNET_TRAINER_PIPELINE_LOAD_H
#define OSCNET_TRAINER_PIPELINE_LOAD_H

#include <optional>
#include <string>

#include "trainer/csv_reader.h"
#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/weights_file.h"

namespace trainer {

/// What --data holds, as read: a table of a file, or the built-in series' rows.
struct LoadedData {
  std::string name;         ///< the file's name, or "standard input"
  std::string description;  ///< where it came from and its size, for the header
  std::optional<Table> table;
  Dataset series;  ///< without --data: the built-in series, ready to train on
};

/// Reads --data, or makes the built-in series when it is not given. Throws InputError for a
/// file that cannot be used, and for options that apply to files alone.
LoadedData load_data(const Options& options);

/// Reads --load; an empty WeightsFile without it.
WeightsFile load_weights(const Options& options);

}  // namespace trainer

#endif
