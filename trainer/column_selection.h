#ifndef OSCNET_TRAINER_COLUMN_SELECTION_H
#define OSCNET_TRAINER_COLUMN_SELECTION_H

#include <cstddef>
#include <string>
#include <vector>

#include "trainer/dataset.h"
#include "trainer/table.h"

namespace trainer {

/// Which columns of a table the network sees, as the command line names them. Columns are
/// named by header name or by number from 1; an exact header name wins over a number.
struct ColumnRequest {
  std::vector<std::string> targets;  ///< empty: the last `target_count` columns
  std::size_t target_count = 1;
  std::vector<std::string> inputs;  ///< empty: every other numeric column; none with lags
  /// Not empty: the inputs are names recorded in this weights file, never numbers.
  std::string inputs_recorded_in;
  std::vector<int> lags;  ///< not empty: rows of past values of the series columns
  int horizon = 1;        ///< with lags: how many rows ahead the target lies
  std::string time;       ///< labels the rows; never an input
  std::string classify;   ///< a label column: one-hot targets, one per class
  /// Rows to predict: no target values are read, and with lags every row whose past values
  /// exist is kept, however near the end.
  bool predicting = false;
};

/// The dataset, and what a predictions file needs to repeat of the table.
struct Selection {
  Dataset data;
  std::vector<std::size_t> source_rows;    ///< each row's table row (its time t with lags)
  std::vector<std::size_t> given_columns;  ///< the time column, then the inputs' columns
  std::vector<std::string> skipped;        ///< columns of the table left unused
  std::string label_name;                  ///< the --classify column's name, when it has one
};

/// Builds the rows the request names. With lags, the series are the target columns, then the
/// input columns; each gives its value at t - lag for every lag, and each target column its
/// value at t + horizon, for every t where all of them exist. Throws InputError for a column
/// that does not exist (listing those that do), one used twice, a cell that is not a number
/// where a number is needed (file, line and column), a classification of fewer than two
/// classes, and too few rows for the lags.
Selection select_from_table(const Table& table, const ColumnRequest& request);

/// "NAME(t-18)", "NAME(t)", "NAME(t+6)": the series' value `offset` rows from t.
std::string lagged_name(const std::string& name, int offset);

}  // namespace trainer

#endif
