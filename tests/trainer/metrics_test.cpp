// The error figures reported after training, against sums done by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "trainer/metrics.h"

namespace trainer {
namespace {

TEST(Metrics, OneColumnByHandAtAnyScale) {
  // Errors 0.5, 0, -1, 1: mean square 2.25 / 4. Truth mean 2.5, variance 5 / 4. Powers of two
  // scale every sum exactly; the normalized error does not change.
  for (const double scale : {1.0 / 1024, 1.0, 1024.0}) {
    std::vector<double> predicted = {1.5, 2, 2, 5};
    std::vector<double> truth = {1, 2, 3, 4};
    for (double& value : predicted) value *= scale;
    for (double& value : truth) value *= scale;
    const ErrorFigures figures = error_figures(predicted, truth, 1);
    EXPECT_DOUBLE_EQ(figures.rmse, 0.75 * scale);
    EXPECT_DOUBLE_EQ(figures.nrmse, std::sqrt(2.25 / 5));
  }
}

TEST(Metrics, ColumnsAreNormalizedSeparatelyThenAveraged) {
  // Column a: truth 1, 3, 5 (squares about the mean 8), errors 1, 0, -2 (squares 5).
  // Column b: truth 10, 20, 60 (1400), errors 0, 10, -10 (200).
  const ErrorFigures figures = error_figures({2, 10, 3, 30, 3, 50}, {1, 10, 3, 20, 5, 60}, 2);
  EXPECT_DOUBLE_EQ(figures.rmse, std::sqrt(205.0 / 6));
  EXPECT_DOUBLE_EQ(figures.nrmse, std::sqrt((5.0 / 8 + 200.0 / 1400) / 2));
}

TEST(Metrics, PredictingEachColumnsMeanScoresOne) {
  const std::size_t width = 3;
  const std::size_t rows = 50;
  std::mt19937 random(5);
  std::vector<double> truth(width * rows);
  for (std::size_t i = 0; i < truth.size(); ++i) {
    truth[i] = static_cast<double>(i % width + 1) * 10.0 *
               std::uniform_real_distribution<double>(-1.0, 1.0)(random);
  }
  std::vector<double> sums(width, 0.0);
  for (std::size_t i = 0; i < truth.size(); ++i) sums[i % width] += truth[i];
  std::vector<double> means(truth.size());
  for (std::size_t i = 0; i < truth.size(); ++i) means[i] = sums[i % width] / rows;

  EXPECT_NEAR(error_figures(means, truth, width).nrmse, 1.0, 1e-14);
  const std::vector<double> column_mean = column_means(truth, width);
  for (std::size_t c = 0; c < width; ++c) EXPECT_NEAR(column_mean[c], means[c], 1e-14);

  const ErrorFigures perfect = error_figures(truth, truth, width);
  EXPECT_EQ(perfect.rmse, 0.0);
  EXPECT_EQ(perfect.nrmse, 0.0);
}

TEST(Metrics, ConstantTruthOrNoRowsHasNoNormalizedError) {
  const ErrorFigures constant = error_figures({1, 3, 2, 2}, {1, 2, 2, 2}, 2);
  EXPECT_DOUBLE_EQ(constant.rmse, 0.5);
  EXPECT_TRUE(std::isnan(constant.nrmse));

  const ErrorFigures empty = error_figures({}, {}, 2);
  EXPECT_TRUE(std::isnan(empty.rmse));
  EXPECT_TRUE(std::isnan(empty.nrmse));
}

}  // namespace
}  // namespace trainer
