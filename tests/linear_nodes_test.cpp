#include <gtest/gtest.h>

#include "gradient_check.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

using testing::chained_gradient;
using testing::numeric_gradient;

MatrixXd matrix(Eigen::Index rows, Eigen::Index cols, std::initializer_list<double> values) {
  MatrixXd m(rows, cols);
  auto it = values.begin();
  for (Eigen::Index i = 0; i < rows; ++i)
    for (Eigen::Index j = 0; j < cols; ++j) m(i, j) = *it++;
  return m;
}

TEST(LinearNodes, AddAndMinusBroadcastOneRowOverEveryRow) {
  Variable l(matrix(2, 2, {1, 2, 3, 4}));
  Variable r(matrix(1, 2, {10, 20}));
  Add sum(l, r);
  sum.compute();
  EXPECT_EQ(sum.value, matrix(2, 2, {11, 22, 13, 24}));

  Variable l2(matrix(2, 2, {1, 2, 3, 4}));
  Variable r2(matrix(1, 2, {10, 20}));
  Minus difference(l2, r2);
  difference.compute();
  EXPECT_EQ(difference.value, matrix(2, 2, {-9, -18, -7, -16}));
}

TEST(LinearNodes, AddAndMinusOfSameShapes) {
  Variable a(matrix(1, 3, {1, 2, 3})), b(matrix(1, 3, {0.5, -4, 8}));
  Add sum(a, b);
  sum.compute();
  EXPECT_EQ(sum.value, matrix(1, 3, {1.5, -2, 11}));
  Variable c(matrix(1, 3, {1, 2, 3})), d(matrix(1, 3, {0.5, -4, 8}));
  Minus difference(c, d);
  difference.compute();
  EXPECT_EQ(difference.value, matrix(1, 3, {0.5, 6, -5}));
}

TEST(LinearNodes, ShapesThatDoNotCombineGiveZerosOfTheLeftShape) {
  // Column counts differ.
  Variable a(MatrixXd::Constant(2, 3, 5.0)), b(MatrixXd::Constant(2, 2, 1.0));
  Add sum(a, b);
  sum.value = MatrixXd::Constant(4, 4, 7.0);  // stale contents must not survive
  sum.compute();
  EXPECT_EQ(sum.value, MatrixXd::Zero(2, 3));
  Variable c(MatrixXd::Constant(2, 3, 5.0)), d(MatrixXd::Constant(2, 2, 1.0));
  Minus difference(c, d);
  difference.compute();
  EXPECT_EQ(difference.value, MatrixXd::Zero(2, 3));

  // Same width, but the right operand has several rows and not the left's count.
  Variable e(MatrixXd::Constant(3, 2, 5.0)), f(MatrixXd::Constant(2, 2, 1.0));
  Add sum2(e, f);
  sum2.compute();
  EXPECT_EQ(sum2.value, MatrixXd::Zero(3, 2));
  Variable g(MatrixXd::Constant(3, 2, 5.0)), h(MatrixXd::Constant(2, 2, 1.0));
  Minus difference2(g, h);
  difference2.compute();
  EXPECT_EQ(difference2.value, MatrixXd::Zero(3, 2));
}

TEST(LinearNodes, AddOfNoRowsAndOneRowIsEmpty) {
  Variable a(MatrixXd(0, 3)), b(MatrixXd::Ones(1, 3));
  Add sum(a, b);
  sum.compute();
  EXPECT_EQ(sum.value.rows(), 0);
  EXPECT_EQ(sum.value.cols(), 3);
}

TEST(LinearNodes, DotMultipliesOrKeepsItsValueOnMismatch) {
  Variable l(matrix(1, 2, {1, 2}));
  Variable r(matrix(2, 3, {1, 2, 3, 4, 5, 6}));
  Dot product(l, r);
  EXPECT_TRUE(product.is_matmul);
  product.compute();
  EXPECT_EQ(product.value, matrix(1, 3, {9, 12, 15}));

  r.value = MatrixXd::Ones(3, 3);
  product.compute();
  EXPECT_EQ(product.value, matrix(1, 3, {9, 12, 15}));

  Variable l2(matrix(1, 2, {1, 2})), r2(MatrixXd::Ones(3, 3));
  Dot fresh(l2, r2);
  fresh.compute();
  EXPECT_EQ(fresh.value.size(), 0);
}

template <typename N>
void expect_links_both_operands() {
  Variable a(MatrixXd::Ones(1, 2)), b(MatrixXd::Ones(2, 2));
  N node(a, b);
  EXPECT_EQ(node.left, &a);
  EXPECT_EQ(node.right, &b);
  EXPECT_EQ(a.consumer, &node);
  EXPECT_EQ(b.consumer, &node);
  EXPECT_EQ(node.value.size(), 0);  // nothing is evaluated on construction
}

TEST(LinearNodes, ConstructorsLinkBothOperands) {
  expect_links_both_operands<Add>();
  expect_links_both_operands<Minus>();
  expect_links_both_operands<Dot>();
}

template <typename N>
void expect_no_write_without_requires_grad() {
  Variable a(MatrixXd::Ones(1, 3)), b(MatrixXd::Ones(3, 3));
  const MatrixXd kept = MatrixXd::Constant(2, 2, 0.125);
  for (Nodes* cleared : {static_cast<Nodes*>(&a), static_cast<Nodes*>(&b)}) {
    a.requires_grad = b.requires_grad = true;
    cleared->requires_grad = false;
    cleared->local_grad = kept;
    N node(a, b);
    node.backprop();
    EXPECT_EQ(cleared->local_grad, kept);
    const Nodes* other = cleared == &a ? &b : &a;
    EXPECT_NE(other->local_grad.rows(), 2) << "the other operand is written";
  }
}

TEST(LinearNodes, OperandWithoutGradientKeepsItsLocalGradBitForBit) {
  expect_no_write_without_requires_grad<Add>();
  expect_no_write_without_requires_grad<Minus>();
  expect_no_write_without_requires_grad<Dot>();
}

TEST(LinearNodes, AddBackpropGivesOnesOfTheLeftShapeToBothOperands) {
  Variable a(MatrixXd::Constant(1, 4, 2.0)), b(MatrixXd::Constant(1, 4, 1.0));
  Add same(a, b);
  same.backprop();
  EXPECT_EQ(a.local_grad, MatrixXd::Ones(1, 4));
  EXPECT_EQ(b.local_grad, MatrixXd::Ones(1, 4));

  Variable l(MatrixXd::Constant(3, 4, 2.0)), r(MatrixXd::Constant(1, 4, 1.0));
  Add sum(l, r);
  sum.backprop();
  EXPECT_EQ(l.local_grad, MatrixXd::Ones(3, 4));
  EXPECT_EQ(r.local_grad, MatrixXd::Ones(3, 4));
}

TEST(LinearNodes, MinusBackpropSkipsOperandsThatNeedNoGradient) {
  Variable l(MatrixXd::Constant(1, 2, 2.0));
  Const target(MatrixXd::Constant(1, 2, 1.0));
  Minus difference(l, target);
  difference.backprop();
  EXPECT_EQ(l.local_grad, MatrixXd::Ones(1, 2));
  EXPECT_EQ(target.local_grad.size(), 0);

  Variable a(MatrixXd::Ones(1, 2)), b(MatrixXd::Ones(1, 2));
  Minus both(a, b);
  both.backprop();
  EXPECT_EQ(b.local_grad, MatrixXd::Constant(1, 2, -1.0));

  // A cleared flag keeps whatever the operand held, bit for bit.
  b.requires_grad = false;
  b.local_grad = MatrixXd::Constant(2, 2, 0.125);
  both.backprop();
  EXPECT_EQ(b.local_grad, MatrixXd::Constant(2, 2, 0.125));
}

TEST(LinearNodes, DotBackpropHandsOverTransposes) {
  Variable l(matrix(1, 2, {1, 2}));
  Variable r(matrix(2, 3, {1, 2, 3, 4, 5, 6}));
  Dot product(l, r);
  product.backprop();
  EXPECT_EQ(l.local_grad, r.value.transpose());
  EXPECT_EQ(r.local_grad, l.value.transpose());
  EXPECT_EQ(l.local_grad.rows(), 3);
  EXPECT_EQ(r.local_grad.cols(), 1);
}

TEST(LinearNodes, DerivativesMatchFiniteDifferences) {
  const MatrixXd weights = MatrixXd::Random(2, 3);
  {
    Variable l(MatrixXd::Random(2, 3)), r(MatrixXd::Random(2, 3));
    Add node(l, r);
    EXPECT_TRUE(
        chained_gradient(node, l, weights).isApprox(numeric_gradient(node, l, weights), 1e-7));
    EXPECT_TRUE(
        chained_gradient(node, r, weights).isApprox(numeric_gradient(node, r, weights), 1e-7));
  }
  {
    Variable l(MatrixXd::Random(2, 3)), r(MatrixXd::Random(2, 3));
    Minus node(l, r);
    EXPECT_TRUE(
        chained_gradient(node, l, weights).isApprox(numeric_gradient(node, l, weights), 1e-7));
    EXPECT_TRUE(
        chained_gradient(node, r, weights).isApprox(numeric_gradient(node, r, weights), 1e-7));
  }
  {
    Variable l(MatrixXd::Random(2, 4)), r(MatrixXd::Random(4, 3));
    Dot node(l, r);
    EXPECT_TRUE(
        chained_gradient(node, l, weights).isApprox(numeric_gradient(node, l, weights), 1e-7));
    EXPECT_TRUE(
        chained_gradient(node, r, weights).isApprox(numeric_gradient(node, r, weights), 1e-7));
  }
}

}  // namespace
}  // namespace oscnet
