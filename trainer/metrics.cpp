#include "trainer/metrics.h"

#include <cmath>
#include <limits>

namespace trainer {

std::vector<double> column_means(const std::vector<double>& cells, std::size_t width) {
  std::vector<double> means(width, 0.0);
  const std::size_t rows = cells.size() / width;
  for (std::size_t i = 0; i < rows * width; ++i) means[i % width] += cells[i];
  for (double& mean : means) mean /= static_cast<double>(rows);
  return means;
}

ErrorFigures error_figures(const std::vector<double>& predicted, const std::vector<double>& truth,
                           std::size_t width) {
  const std::size_t rows = truth.size() / width;
  if (rows == 0) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {nan, nan};
  }
  const std::vector<double> means = column_means(truth, width);
  std::vector<double> squared_error(width, 0.0);
  std::vector<double> squared_spread(width, 0.0);
  for (std::size_t i = 0; i < rows * width; ++i) {
    const double error = predicted[i] - truth[i];
    const double spread = truth[i] - means[i % width];
    squared_error[i % width] += error * error;
    squared_spread[i % width] += spread * spread;
  }
  double total = 0.0;
  double ratio_sum = 0.0;
  for (std::size_t c = 0; c < width; ++c) {
    total += squared_error[c];
    ratio_sum += squared_spread[c] > 0.0 ? squared_error[c] / squared_spread[c]
                                         : std::numeric_limits<double>::quiet_NaN();
  }
  return {std::sqrt(total / static_cast<double>(rows * width)),
          std::sqrt(ratio_sum / static_cast<double>(width))};
}

}  // namespace trainer
