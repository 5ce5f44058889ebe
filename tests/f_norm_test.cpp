#include <gtest/gtest.h>

#include <cmath>

#include "gradient_check.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"

namespace oscnet {
namespace {

double loss_of(const MatrixXd& operand) {
  Variable l(operand);
  F_Norm loss(l);
  loss.value = MatrixXd::Constant(3, 2, 9.0);  // whatever it held, it becomes 1 x 1
  loss.compute();
  EXPECT_EQ(loss.value.rows(), 1);
  EXPECT_EQ(loss.value.cols(), 1);
  return loss.value(0, 0);
}

TEST(FNorm, DividesTheSquaredSumByTheRowCount) {
  EXPECT_EQ(loss_of((MatrixXd(1, 2) << 3, 4).finished()), 25.0);
  EXPECT_EQ(loss_of((MatrixXd(2, 2) << 1, 2, 3, 4).finished()), 15.0);
  EXPECT_EQ(loss_of(MatrixXd(2, 0)), 0.0);
  EXPECT_TRUE(std::isnan(loss_of(MatrixXd())));
}

TEST(FNorm, BackpropGivesTwiceTheOperandWithoutDividing) {
  Variable l((MatrixXd(2, 3) << 1, -2, 0.5, 2, 0, -1).finished());
  F_Norm loss(l);
  EXPECT_EQ(loss.left, &l);
  EXPECT_EQ(loss.right, nullptr);
  EXPECT_EQ(l.consumer, &loss);
  loss.backprop();
  EXPECT_EQ(l.local_grad, (MatrixXd(2, 3) << 2, -4, 1, 4, 0, -2).finished());

  Const fixed(MatrixXd::Ones(1, 2));
  F_Norm untouched(fixed);
  untouched.backprop();
  EXPECT_EQ(fixed.local_grad.size(), 0);
}

TEST(FNorm, OneRowDerivativeMatchesFiniteDifferences) {
  // With one row the loss is the plain squared norm, and 2L is its true gradient.
  Variable l(MatrixXd::Random(1, 5));
  F_Norm loss(l);
  const MatrixXd seed = MatrixXd::Ones(1, 1);
  loss.backprop();
  EXPECT_TRUE(l.local_grad.isApprox(testing::numeric_gradient(loss, l, seed), 1e-8));
}

}  // namespace
}  // namespace oscnet
