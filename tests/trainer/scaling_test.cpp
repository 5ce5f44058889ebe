// Column scaling, and folding it into the weights so that saved networks work on raw units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "trainer/network.h"
#include "trainer/scaling.h"

namespace trainer {
namespace {

TEST(Scaling, UnitRangeComesFromTheFirstRowsOnly) {
  // Three columns, four rows; the last row is left out of the ranges.
  std::vector<double> cells = {2,   5,  -1,  //
                               6,   5,  -3,  //
                               4,   5,  1,   //
                               100, -7, 0};
  const std::vector<double> original = cells;
  const ColumnScaling scaling = ColumnScaling::to_unit_range(cells, 3, 3);
  scaling.apply(cells);
  // Column 0 spans 2..6, column 1 is constant, column 2 spans -3..1.
  EXPECT_EQ(cells, (std::vector<double>{-1, 0, 0,  //
                                        1, 0, -1,  //
                                        0, 0, 1,   //
                                        48, -12, 0.5}));
  for (std::size_t r = 0; r < 4; ++r) scaling.invert_row(&cells[r * 3]);
  EXPECT_EQ(cells, original);
}

TEST(Scaling, ColumnsSpanningMostDoublesStayFinite) {
  std::vector<double> cells = {-1e308, 1e308, 0};
  ColumnScaling::to_unit_range(cells, 1, 3).apply(cells);
  EXPECT_NEAR(cells[0], -1.0, 1e-15);
  EXPECT_NEAR(cells[1], 1.0, 1e-15);
  EXPECT_NEAR(cells[2], 0.0, 1e-15);
}

std::vector<double> random_values(std::size_t count, double low, double high, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> draw(low, high);
  std::vector<double> values(count);
  for (double& value : values) value = draw(random);
  return values;
}

ColumnScaling random_scaling(std::size_t columns, unsigned seed) {
  return ColumnScaling{random_values(columns, 0.01, 50.0, seed),
                       random_values(columns, -300.0, 300.0, seed + 1)};
}

TEST(FoldScaling, UnfoldUndoesItAndLeavesTheMiddleLayersAlone) {
  const WeightLayout layout{{3, 4, 5, 2}};
  const std::vector<double> params = random_values(layout.count(), -1.0, 1.0, 11);
  const ColumnScaling inputs = random_scaling(3, 12);
  const ColumnScaling outputs = random_scaling(2, 14);
  std::vector<double> folded = params;
  fold_scaling(folded, layout, inputs, outputs);
  const std::size_t middle_start = (3 + 1) * 4;
  const std::size_t middle_end = middle_start + (4 + 1) * 5;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i >= middle_start && i < middle_end) {
      EXPECT_EQ(folded[i], params[i]) << i;
    } else {
      EXPECT_NE(folded[i], params[i]) << i;
    }
  }
  unfold_scaling(folded, layout, inputs, outputs);
  for (std::size_t i = 0; i < params.size(); ++i) {
    EXPECT_NEAR(folded[i], params[i], 1e-12) << i;
  }
}

struct Shape {
  int inputs;
  std::vector<HiddenLayer> layers;
  int outputs;
};

// Predicting raw rows with folded weights must equal scaling the rows, predicting with the
// weights as trained, and unscaling the outputs.
void expect_folding_commutes(const Shape& shape, unsigned seed) {
  const auto inputs = static_cast<std::size_t>(shape.inputs);
  const auto outputs = static_cast<std::size_t>(shape.outputs);
  const std::size_t rows = 20;
  // Raw inputs on very different scales, as real columns are.
  std::vector<double> raw(rows * inputs);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const double centre = (i % inputs == 0) ? 200.0 : (i % inputs == 1 ? -0.003 : 7.0);
    const double spread = (i % inputs == 0) ? 100.0 : (i % inputs == 1 ? 0.01 : 1.0);
    raw[i] = centre + spread * std::uniform_real_distribution<double>(-1.0, 1.0)(random);
  }
  const ColumnScaling input_scaling = ColumnScaling::to_unit_range(raw, inputs, rows);
  const ColumnScaling output_scaling = random_scaling(outputs, seed + 1);
  std::vector<double> scaled = raw;
  input_scaling.apply(scaled);

  Network network(shape.inputs, shape.outputs, shape.layers, seed);
  const std::vector<double> params = random_values(network.layout().count(), -0.3, 0.3, seed + 3);
  std::vector<double> folded = params;
  fold_scaling(folded, network.layout(), input_scaling, output_scaling);

  std::vector<double> expected(rows * outputs);
  network.set_params(params);
  for (std::size_t r = 0; r < rows; ++r) {
    network.predict(&scaled[r * inputs], &expected[r * outputs]);
    output_scaling.invert_row(&expected[r * outputs]);
  }
  std::vector<double> actual(rows * outputs);
  network.set_params(folded);
  for (std::size_t r = 0; r < rows; ++r) network.predict(&raw[r * inputs], &actual[r * outputs]);

  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_TRUE(std::isfinite(expected[i]));
    // A unit of the scaled output is 1 / factor in the data's units.
    const double unit = 1.0 / output_scaling.factor[i % outputs];
    EXPECT_NEAR(actual[i], expected[i], 1e-12 * (std::fabs(expected[i]) + unit))
        << "row " << i / outputs;
  }
}

TEST(FoldScaling, FoldedWeightsPredictRawUnitsThroughTheLibrary) {
  expect_folding_commutes({3, {{5, Activation::tanh}}, 1}, 100);
  expect_folding_commutes({3, {{6, Activation::sigmoid}}, 3}, 200);
  expect_folding_commutes(
      {3, {{4, Activation::sigmoid}, {6, Activation::relu}, {3, Activation::none}}, 2}, 300);
  expect_folding_commutes({2, {{3, Activation::tanh}, {5, Activation::sigmoid}}, 4}, 400);
}

TEST(Scaling, StandardGivesMeanZeroAndDeviationOneOnTheFirstRows) {
  // Column 0: 1, 3, 5, 7 (mean 4, deviation sqrt(5)); column 1 constant; the last row left out.
  std::vector<double> cells = {1, 2, 3, 2, 5, 2, 7, 2, 100, -5};
  const std::vector<double> original = cells;
  const ColumnScaling scaling = ColumnScaling::to_standard(cells, 2, 4);
  scaling.apply(cells);
  double sum = 0.0, squares = 0.0;
  for (std::size_t r = 0; r < 4; ++r) {
    sum += cells[r * 2];
    squares += cells[r * 2] * cells[r * 2];
    EXPECT_EQ(cells[r * 2 + 1], 0.0);  // the constant column, shifted to 0
  }
  EXPECT_NEAR(sum, 0.0, 1e-12);
  EXPECT_NEAR(squares / 4, 1.0, 1e-12);
  EXPECT_NEAR(cells[8], 96 / std::sqrt(5.0), 1e-12);
  EXPECT_EQ(cells[9], -7.0);
  for (std::size_t r = 0; r < 5; ++r) scaling.invert_row(&cells[r * 2]);
  for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_NEAR(cells[i], original[i], 1e-12);
}

TEST(Scaling, StandardStaysFiniteForColumnsSpanningMostDoubles) {
  std::vector<double> cells = {-1e308, 1e308, 1e308, 0, 4e-320, 0};
  const ColumnScaling scaling = ColumnScaling::to_standard(cells, 2, 3);
  scaling.apply(cells);
  for (const double cell : cells) EXPECT_TRUE(std::isfinite(cell)) << cell;
  // Column 0 is -1e308, 1e308, 0: mean 0, so 1e308 lies sqrt(3/2) deviations up.
  EXPECT_NEAR(cells[2], std::sqrt(1.5), 1e-12);
}

}  // namespace
}  // namespace trainer
