#ifndef OSCNET_TRAINER_DATASET_H
#define OSCNET_TRAINER_DATASET_H

#include <cstddef>
#include <string>
#include <vector>

namespace trainer {

/// Examples as the network sees them: each row an input row and a target row.
struct Dataset {
  std::string name;         ///< a few words: the file's name, or the series'
  std::string description;  ///< one line: where the rows come from
  std::vector<std::string> input_names;
  std::vector<std::string> target_names;
  std::size_t rows = 0;
  std::vector<double> inputs;   ///< rows x input width, row by row
  std::vector<double> targets;  ///< rows x target width, row by row
  /// For a series: rows x target width, each target's series at the row's time t, so that the
  /// naive forecast "next value = current value" needs no input holding it. Empty otherwise.
  std::vector<double> current_values;
  /// One per row, from a date or time column: how the plot labels the rows. Empty: row numbers.
  std::vector<std::string> row_labels;
  /// Not empty for a classification: the targets are one output per class, in this order,
  /// 1 for the row's class and 0 for the others.
  std::vector<std::string> class_names;
  /// Rows in time order (a series, lagged rows): held-out rows are taken from the end.
  bool time_ordered = false;

  std::size_t input_width() const { return input_names.size(); }
  std::size_t target_width() const { return target_names.size(); }
  const double* input_row(std::size_t row) const { return &inputs[row * input_width()]; }
  const double* target_row(std::size_t row) const { return &targets[row * target_width()]; }
};

}  // namespace trainer

#endif
