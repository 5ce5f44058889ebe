#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "gradient_check.h"
#include "matrix_literals.h"
#include "nodes/activations.h"
#include "nodes/leaf_nodes.h"
#include "nodes/tanh_quotient.h"

namespace oscnet {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using testing::row;

// Value and local derivative of an activation of type A at each coefficient of `input`.
template <typename A>
std::pair<MatrixXd, MatrixXd> evaluate(const MatrixXd& input) {
  Variable operand(input);
  A node(operand);
  node.compute();
  node.backprop();
  return {node.value, operand.local_grad};
}

TEST(ReLuNode, ValuesAndSlopes) {
  const auto [value, slope] = evaluate<ReLu>(row({-3, 0, 2.5, -0.0, kInf, -kInf}));
  EXPECT_EQ(value, row({0, 0, 2.5, 0, kInf, 0}));
  EXPECT_EQ(slope, row({0, 0, 1, 0, 1, 0}));
}

TEST(SigmoidNode, ValuesAndSlopes) {
  const auto [value, slope] = evaluate<Sigmoid>(row({0, -1000, 1000}));
  EXPECT_EQ(value, row({0.5, 0, 1}));
  EXPECT_EQ(slope, row({0.25, 0, 0}));
  EXPECT_DOUBLE_EQ(evaluate<Sigmoid>(row({1.5})).first(0, 0), 1.0 / (1.0 + std::exp(-1.5)));
}

TEST(TanhNode, ValuesAndSlopes) {
  const auto [value, slope] = evaluate<Tanh>(row({0, 0.1, 10, -10}));
  EXPECT_EQ(value(0, 0), 0.0);
  EXPECT_EQ(slope(0, 0), 6.0);
  EXPECT_NEAR(value(0, 1), std::tanh(0.6), 1e-10);
  EXPECT_NEAR(value(0, 2), 1.0, 1e-15);
  EXPECT_NEAR(value(0, 3), -1.0, 1e-15);
  EXPECT_NEAR(slope(0, 2), 0.0, 1e-12);
}

TEST(TanhNode, IsTheQuotientOfExponentialsWithItsGuardTerm) {
  const MatrixXd x = MatrixXd::Random(1, 40) * 2.0;
  const auto [value, slope] = evaluate<Tanh>(x);
  for (Eigen::Index j = 0; j < x.cols(); ++j) {
    const double v = x(0, j);
    const double t =
        (std::exp(6.0 * v) - std::exp(-6.0 * v)) / (std::exp(6.0 * v) + std::exp(-6.0 * v) + 1e-10);
    EXPECT_EQ(value(0, j), t) << "x = " << v;
    EXPECT_EQ(slope(0, j), 6.0 * (1.0 - t * t)) << "x = " << v;
  }
}

// Saturated units skip the exponentials; the quotient they would have computed is exactly +-1
// there, so the shortcut must start no earlier than that, to the last bit.
TEST(TanhNode, SaturatedUnitsGiveTheQuotientsOwnBits) {
  std::vector<double> xs;
  for (double v = 2.0; v < 130.0; v += 0.001) xs.push_back(v);
  double edge = kTanhQuotientSaturation / 6.0;
  for (int step = 0; step < 64; ++step, edge = std::nextafter(edge, 0.0)) xs.push_back(edge);
  for (double v = 16.0 / 6.0; v < 20.0 / 6.0; v += 1e-6) xs.push_back(v);
  for (const double magnitude : xs) {
    for (const double v : {magnitude, -magnitude}) {
      const double up = std::exp(6.0 * v), down = std::exp(-6.0 * v);
      double t = (up - down) / (up + down + 1e-10);
      if (std::isnan(t)) t = v > 0.0 ? 1.0 : -1.0;
      const double got = tanh_quotient(v, 6.0);
      ASSERT_EQ(std::memcmp(&got, &t, sizeof t), 0) << "x = " << v << ": " << got << " not " << t;
    }
  }
}

TEST(TanhNode, IsExactlyOdd) {
  const MatrixXd x = MatrixXd::Random(1, 50) * 3.0;
  EXPECT_EQ(evaluate<Tanh>(-x).first, -evaluate<Tanh>(x).first);
}

TEST(TanhNode, OverflowSaturatesToTheSignWithZeroSlope) {
  // 6 * 200 is beyond the range of exp: the quotient itself would be inf / inf.
  const auto [value, slope] = evaluate<Tanh>(row({200, -200, kInf, -kInf}));
  EXPECT_EQ(value, row({1, -1, 1, -1}));
  EXPECT_EQ(slope, row({0, 0, 0, 0}));
  const auto [nan_value, nan_slope] = evaluate<Tanh>(row({kNaN}));
  EXPECT_TRUE(std::isnan(nan_value(0, 0)));
  EXPECT_TRUE(std::isnan(nan_slope(0, 0)));
}

template <typename A>
void expect_linked_copy_of_operand() {
  Variable operand(row({1, -2, 3}));
  A node(operand);
  EXPECT_EQ(node.left, &operand);
  EXPECT_EQ(node.right, nullptr);
  EXPECT_EQ(operand.consumer, &node);
  EXPECT_EQ(node.value, operand.value);
  EXPECT_FALSE(node.is_matmul);
  EXPECT_FALSE(node.is_param);
  EXPECT_TRUE(node.requires_grad);
}

TEST(Activations, ConstructorLinksAndCopiesTheOperand) {
  expect_linked_copy_of_operand<ReLu>();
  expect_linked_copy_of_operand<Sigmoid>();
  expect_linked_copy_of_operand<Tanh>();
  Variable operand(row({0.5}));
  EXPECT_EQ(Tanh(operand).steepness, 6.0);
}

template <typename A>
void expect_follows_operand_shape() {
  Variable operand(row({1, 2}));
  A node(operand);
  operand.value = MatrixXd::Constant(3, 4, 0.5);
  node.compute();
  node.backprop();
  EXPECT_EQ(node.value.rows(), 3);
  EXPECT_EQ(node.value.cols(), 4);
  EXPECT_EQ(operand.local_grad.rows(), 3);
  EXPECT_EQ(operand.local_grad.cols(), 4);

  operand.value = MatrixXd(0, 0);
  node.compute();
  node.backprop();
  EXPECT_EQ(node.value.size(), 0);
  EXPECT_EQ(operand.local_grad.size(), 0);
}

template <typename A>
void expect_no_write_without_requires_grad() {
  Const operand(row({0.3, -0.7}));
  operand.local_grad = MatrixXd::Constant(2, 2, 0.25);
  A node(operand);
  node.backprop();
  EXPECT_EQ(operand.local_grad, MatrixXd::Constant(2, 2, 0.25));
}

template <typename A>
void expect_slope_matches_finite_differences(const MatrixXd& input) {
  Variable operand(input);
  A node(operand);
  const MatrixXd weights = MatrixXd::Random(input.rows(), input.cols());
  const MatrixXd chained = testing::chained_gradient(node, operand, weights);
  EXPECT_TRUE(chained.isApprox(testing::numeric_gradient(node, operand, weights), 1e-6)) << chained;
}

TEST(Activations, ShapesFollowTheOperand) {
  expect_follows_operand_shape<ReLu>();
  expect_follows_operand_shape<Sigmoid>();
  expect_follows_operand_shape<Tanh>();
}

TEST(Activations, OperandWithoutGradientKeepsItsLocalGrad) {
  expect_no_write_without_requires_grad<ReLu>();
  expect_no_write_without_requires_grad<Sigmoid>();
  expect_no_write_without_requires_grad<Tanh>();
}

TEST(Activations, SlopesMatchFiniteDifferences) {
  // Away from the kink of the rectifier, where its derivative is a true one.
  MatrixXd away_from_zero(2, 3);
  away_from_zero << -1.5, 0.25, 2.0, 0.75, -0.3, 1.1;
  expect_slope_matches_finite_differences<ReLu>(away_from_zero);
  expect_slope_matches_finite_differences<Sigmoid>(MatrixXd::Random(2, 3) * 4.0);
  expect_slope_matches_finite_differences<Tanh>(MatrixXd::Random(2, 3) * 0.4);
}

}  // namespace
}  // namespace oscnet
