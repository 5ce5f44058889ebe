#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "matrix_literals.h"
#include "network/optimizer.h"
#include "nodes/leaf_nodes.h"

namespace oscnet {
namespace {

using testing::matrix;
using testing::row;

// A parameter as a backward pass leaves it: a value and its gradient.
struct Parameter : Variable {
  Parameter(MatrixXd value, MatrixXd gradient) : Variable(std::move(value)) {
    grad = std::move(gradient);
  }
};

TEST(GradientDescent, MovesEveryCoefficientAgainstItsGradient) {
  Parameter P(row({1, 2}), row({0.2, -0.4}));
  G_D_Optimizer GD({&P}, 0.5);
  GD.step();
  EXPECT_EQ(P.value, row({0.9, 2.2}));
  EXPECT_EQ(P.grad, row({0.2, -0.4}));  // gradients stay for the next backward pass
}

TEST(BothRules, WorkedDenseLayerExample) {
  // The gradients a backward pass leaves in the one-unit layer on [1, 2] with target 0.
  Parameter W(matrix(2, 1, {0.5, -0.5}), matrix(2, 1, {-0.8, -1.6}));
  Parameter b(row({0.1}), row({-0.8}));
  G_D_Optimizer GD({&W, &b}, 0.1);
  GD.step();
  EXPECT_NEAR(W.value(0, 0), 0.58, 1e-15);
  EXPECT_NEAR(W.value(1, 0), -0.34, 1e-15);
  EXPECT_NEAR(b.value(0, 0), 0.18, 1e-15);

  W.value = matrix(2, 1, {0.5, -0.5});
  b.value = row({0.1});
  Adagrad_Optimizer adagrad({&W, &b}, 0.1);
  adagrad.step();
  EXPECT_NEAR(adagrad.accum[0](0, 0), 0.64, 1e-15);
  EXPECT_NEAR(adagrad.accum[0](1, 0), 2.56, 1e-15);
  EXPECT_NEAR(adagrad.accum[1](0, 0), 0.64, 1e-15);
  // Each coefficient moves by very nearly the learning rate, whatever its gradient's size.
  EXPECT_NEAR(W.value(0, 0), 0.6, 1e-9);
  EXPECT_NEAR(W.value(1, 0), -0.4, 1e-9);
  EXPECT_NEAR(b.value(0, 0), 0.2, 1e-9);
  EXPECT_EQ(W.value(0, 0), 0.5 - 0.1 * (-0.8 / std::sqrt(0.64 + 1e-10)));
}

TEST(Adagrad, StepsShrinkWithTheRootOfTheAccumulatedSquares) {
  const double g = 0.2, lr = 0.1;
  Parameter P(row({1.0}), row({g}));
  Adagrad_Optimizer adagrad({&P}, lr);
  ASSERT_EQ(adagrad.accum[0], row({0.0}));
  adagrad.step();
  EXPECT_DOUBLE_EQ(adagrad.accum[0](0, 0), 0.04);
  const double first = 1.0 - P.value(0, 0);
  EXPECT_NEAR(first, 0.1, 1e-9);
  // The constant sits inside the root: outside it, the step would differ in the 10th digit.
  EXPECT_EQ(P.value(0, 0), 1.0 - lr * (g / std::sqrt(g * g + 1e-10)));
  EXPECT_NE(P.value(0, 0), 1.0 - lr * (g / (std::sqrt(g * g) + 1e-10)));

  const double before = P.value(0, 0);
  adagrad.step();
  EXPECT_DOUBLE_EQ(adagrad.accum[0](0, 0), 0.08);
  EXPECT_NEAR(before - P.value(0, 0), lr / std::sqrt(2.0), 1e-9);
}

TEST(Adagrad, ZeroGradientOnAFreshAccumulatorMovesNothing) {
  Parameter P(row({0.3, -0.7}), row({0.0, 0.0}));
  Adagrad_Optimizer adagrad({&P}, 0.1);
  adagrad.step();
  EXPECT_EQ(P.value, row({0.3, -0.7}));
}

TEST(BothRules, ReduceAManyRowBiasGradientToItsColumnSums) {
  const MatrixXd batch_gradient = matrix(2, 3, {1, 2, 3, 4, 5, 6});
  Parameter P(row({0, 0, 0}), batch_gradient);
  G_D_Optimizer GD({&P}, 0.5);
  GD.step();
  EXPECT_EQ(P.value, row({-2.5, -3.5, -4.5}));

  P.value = row({0, 0, 0});
  Adagrad_Optimizer adagrad({&P}, 1.0);
  adagrad.step();
  EXPECT_EQ(adagrad.accum[0], row({25, 49, 81}));
  EXPECT_NEAR(P.value(0, 0), -1.0, 1e-9);
  EXPECT_EQ(P.grad, batch_gradient);
}

TEST(BothRules, RateZeroOrEmptyListChangesNoValue) {
  Parameter P(row({0.3, -0.7}), row({1.5, -2.0}));
  G_D_Optimizer GD({&P}, 0.0);
  GD.step();
  Adagrad_Optimizer adagrad({&P}, 0.0);
  adagrad.step();
  EXPECT_EQ(P.value, row({0.3, -0.7}));
  EXPECT_EQ(adagrad.accum[0], row({2.25, 4.0}));  // the accumulators still grow

  const std::vector<Nodes*> none;
  Adagrad_Optimizer idle(none, 0.1);
  EXPECT_TRUE(idle.accum.empty());
  idle.step();
  G_D_Optimizer(none, 0.1).step();
}

TEST(BothRules, ParametersWithoutAGradientAreLeftAlone) {
  // Before any backward pass a gradient is empty; an update must not read past it.
  Variable P(row({0.3, -0.7}));
  G_D_Optimizer({&P}, 0.1).step();
  Adagrad_Optimizer adagrad({&P}, 0.1);
  adagrad.step();
  EXPECT_EQ(P.value, row({0.3, -0.7}));
}

TEST(BothRules, CopyTheParameterListWhenMade) {
  Parameter first(row({1.0}), row({1.0}));
  Parameter later(row({1.0}), row({1.0}));
  std::vector<Nodes*> list{&first};
  G_D_Optimizer GD(list, 0.5);
  list.push_back(&later);
  GD.step();
  EXPECT_EQ(first.value, row({0.5}));
  EXPECT_EQ(later.value, row({1.0}));
}

}  // namespace
}  // namespace oscnet
