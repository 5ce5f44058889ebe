#ifndef OSCNET_TRAINER_METRICS_H
#define OSCNET_TRAINER_METRICS_H

#include <cstddef>
#include <vector>

namespace trainer {

/// How far predictions are from the truth over some rows of `width` columns.
struct ErrorFigures {
  /// Root of the mean squared error over every cell, in the data's units.
  double rmse = 0.0;
  /// Root of the mean, over columns, of each column's mean squared error divided by the
  /// variance of its truth on these rows: 1 for predicting each column's mean of these rows,
  /// 0 for perfect predictions. Not-a-number when some column's truth is constant.
  double nrmse = 0.0;
};

/// Both figures for row-by-row `predicted` and `truth` of `width` columns; no rows gives
/// not-a-number for both.
ErrorFigures error_figures(const std::vector<double>& predicted, const std::vector<double>& truth,
                           std::size_t width);

/// Per column, the mean over the rows of row-by-row `cells`.
std::vector<double> column_means(const std::vector<double>& cells, std::size_t width);

}  // namespace trainer

#endif
