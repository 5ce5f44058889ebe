#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"

namespace oscnet {
namespace {

constexpr unsigned kSeed = 20261208;

// The first `count` draws after seeding, reduced to sample indices.
std::vector<int> draws_after_seeding(int count) {
  std::srand(kSeed);
  std::vector<int> draws;
  for (int k = 0; k < count; ++k) draws.push_back(std::rand() % kLeeSamples);
  return draws;
}

// How many draws `compute` consumed, read off the generator's sequence.
int draws_taken_by(Lee_Osc& node) {
  std::srand(kSeed);
  node.compute();
  const int next = std::rand();
  std::srand(kSeed);
  for (int taken = 0; taken < 10000; ++taken) {
    if (std::rand() == next) return taken;
  }
  return -1;
}

TEST(LeeOsc, ConstructionLinksCopiesAndSharesOneTable) {
  Variable operand((MatrixXd(1, 3) << 0.5, -2.0, 0.0).finished());
  Lee_Osc first(operand);
  EXPECT_EQ(first.left, &operand);
  EXPECT_EQ(operand.consumer, &first);
  EXPECT_EQ(first.value, operand.value);
  EXPECT_EQ(first.steepness, 4.0);

  Variable other(MatrixXd::Zero(1, 1));
  Lee_Osc second(other);
  EXPECT_EQ(second.table, first.table);  // the second node costs no sweep

  std::vector<double> rebuilt(kLeeRows * kLeeSamples);
  second.build_table(rebuilt.data());
  EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.end(), first.table));
}

TEST(LeeOsc, MapsInputsToTheirRowAndADrawnSample) {
  const struct {
    double input;
    int row;
  } cases[] = {{-1.0, 0}, {-0.5, 250}, {0.0, 500}, {0.5, 750}, {1.0, 1000}, {0.0031, 501}};
  MatrixXd inputs(1, std::size(cases));
  for (std::size_t k = 0; k < std::size(cases); ++k) inputs(0, k) = cases[k].input;
  Variable operand(inputs);
  Lee_Osc node(operand);

  const std::vector<int> samples = draws_after_seeding(static_cast<int>(std::size(cases)));
  std::srand(kSeed);
  node.compute();
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    EXPECT_EQ(node.value(0, k), node.table[cases[k].row * kLeeSamples + samples[k]])
        << "input " << cases[k].input;
  }
}

TEST(LeeOsc, SaturatesOutsideTheTableWithoutDrawing) {
  const double inf = std::numeric_limits<double>::infinity();
  Variable operand((MatrixXd(2, 2) << 1.0000001, -1.0000001, inf, -inf).finished());
  Lee_Osc node(operand);
  EXPECT_EQ(draws_taken_by(node), 0);
  EXPECT_EQ(node.value, (MatrixXd(2, 2) << 1, -1, 1, -1).finished());
}

TEST(LeeOsc, TakesOneDrawPerInRangeCoefficientInRowMajorOrder) {
  // Three rows by two columns; in-range coefficients at (0,1), (1,0), (2,0), (2,1).
  MatrixXd inputs(3, 2);
  inputs << 5.0, 0.5, -0.249, -7.0, 1.0, -1.0;
  Variable operand(inputs);
  Lee_Osc node(operand);
  EXPECT_EQ(draws_taken_by(node), 4);

  const std::vector<int> samples = draws_after_seeding(4);
  std::srand(kSeed);
  node.compute();
  EXPECT_EQ(node.value(0, 0), 1.0);
  EXPECT_EQ(node.value(0, 1), node.table[750 * kLeeSamples + samples[0]]);
  EXPECT_EQ(node.value(1, 0), node.table[375 * kLeeSamples + samples[1]]);
  EXPECT_EQ(node.value(1, 1), -1.0);
  EXPECT_EQ(node.value(2, 0), node.table[1000 * kLeeSamples + samples[2]]);
  EXPECT_EQ(node.value(2, 1), node.table[0 * kLeeSamples + samples[3]]);
}

TEST(LeeOsc, DrawsInRowMajorOrderAcrossTheOscillatingBand) {
  // Rows of the band hold spread-out samples, so a draw given to the wrong coefficient shows.
  MatrixXd inputs(2, 3);
  inputs << 0.0, 0.011, -0.013, 0.021, -0.031, 0.041;
  Variable operand(inputs);
  Lee_Osc node(operand);
  const std::vector<int> samples = draws_after_seeding(6);
  std::srand(kSeed);
  node.compute();
  int draw = 0;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int row = static_cast<int>(std::floor((inputs(r, c) + 1.0) / 0.002));
      EXPECT_EQ(node.value(r, c), node.table[row * kLeeSamples + samples[draw++]])
          << "coefficient (" << r << ", " << c << ")";
    }
  }
}

TEST(LeeOsc, NotANumberStaysNotANumberWithoutDrawing) {
  Variable operand(MatrixXd::Constant(1, 3, std::numeric_limits<double>::quiet_NaN()));
  Lee_Osc node(operand);
  EXPECT_EQ(draws_taken_by(node), 0);
  EXPECT_TRUE(node.value.array().isNaN().all());
}

TEST(LeeOsc, ValueFollowsTheOperandShape) {
  Variable operand(MatrixXd::Zero(1, 2));
  Lee_Osc node(operand);
  operand.value = MatrixXd::Constant(3, 5, 2.0);
  node.compute();
  EXPECT_EQ(node.value, MatrixXd::Ones(3, 5));
  operand.value = MatrixXd(0, 4);
  EXPECT_EQ(draws_taken_by(node), 0);
  EXPECT_EQ(node.value.rows(), 0);
  EXPECT_EQ(node.value.cols(), 4);
}

TEST(LeeOsc, BackpropIsTheSlopeOfTanhOfFourX) {
  const double inf = std::numeric_limits<double>::infinity();
  Variable operand((MatrixXd(1, 7) << 0.0, 0.3, -0.6, 1.5, -2.5, 200.0, -inf).finished());
  Lee_Osc node(operand);
  node.backprop();
  const MatrixXd& slope = operand.local_grad;
  ASSERT_EQ(slope.cols(), 7);
  EXPECT_EQ(slope(0, 0), 4.0);
  for (int j = 1; j < 5; ++j) {
    const double x = operand.value(0, j);
    const double t =
        (std::exp(4.0 * x) - std::exp(-4.0 * x)) / (std::exp(4.0 * x) + std::exp(-4.0 * x) + 1e-10);
    EXPECT_EQ(slope(0, j), 4.0 * (1.0 - t * t)) << "column " << j;
    EXPECT_NEAR(slope(0, j), 4.0 * (1.0 - std::tanh(4.0 * x) * std::tanh(4.0 * x)), 1e-9);
  }
  // Beyond the range of exp the surrogate has saturated.
  EXPECT_EQ(slope(0, 5), 0.0);
  EXPECT_EQ(slope(0, 6), 0.0);

  Const fixed(MatrixXd::Zero(1, 2));
  Lee_Osc untouched(fixed);
  untouched.backprop();
  EXPECT_EQ(fixed.local_grad.size(), 0);
}

}  // namespace
}  // namespace oscnet
