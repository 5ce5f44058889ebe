#ifndef OSCNET_TRAINER_PIPELINE_RUN_STATE_H
#define OSCNET_TRAINER_PIPELINE_RUN_STATE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "trainer/activation.h"
#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/scaling.h"
#include "trainer/table.h"
#include "trainer/weights_file.h"

namespace trainer {

/// How the rows are shared out. The steps see the data's rows rearranged: the first
/// `training_rows` train the network, the `validation_rows` after them choose its epoch, and
/// the `test_rows` after those test it; each part in the data's order.
struct RowSplit {
  std::size_t training_rows = 0;
  std::size_t validation_rows = 0;
  std::size_t test_rows = 0;
  SplitChoice choice = SplitChoice::tail;
  /// For each row as the steps see it, its row in the data as read; empty when the parts are
  /// the data's rows in order.
  std::vector<std::size_t> order;
};

/// Where the data's rows come from, for a predictions file that repeats the columns as given.
struct RowSource {
  std::shared_ptr<const Table> table;  ///< kept for --output alone; null for the built-in series
  std::vector<std::size_t> rows;       ///< the table row of each of the data's rows, as selected
  std::vector<std::size_t> columns;    ///< the table's columns to repeat: time, then inputs
  std::string label_name;              ///< names the class column of a classification
};

/// What the steps hand on to each other once the options, the data and the weights file have
/// been read and checked; the runs share it and leave it as it is.
struct RunState {
  Options options;
  Dataset data;
  std::vector<HiddenLayer> layers;
  WeightsFile loaded;  ///< empty unless --load
  RowSource source;
  RowSplit split;
  int epochs = 0;
  ColumnScaling input_scaling;
  ColumnScaling target_scaling;
  std::vector<double> scaled_inputs;   ///< the data's inputs, scaled
  std::vector<double> scaled_targets;  ///< the data's targets, scaled

  std::size_t in() const { return data.input_width(); }
  std::size_t out() const { return data.target_width(); }
  std::size_t training_rows() const { return split.training_rows; }
  std::size_t validation_rows() const { return split.validation_rows; }
  std::size_t test_rows() const { return split.test_rows; }
  /// The first validation row, and the first test row, as the steps see the rows.
  std::size_t validation_start() const { return split.training_rows; }
  std::size_t test_start() const { return split.training_rows + split.validation_rows; }
  std::size_t runs() const { return static_cast<std::size_t>(options.runs); }
  /// Run `index` uses this seed; parse_options keeps it in range.
  std::uint32_t seed(std::size_t index) const {
    return options.seed + static_cast<std::uint32_t>(index);
  }
};

}  // namespace trainer

#endif
