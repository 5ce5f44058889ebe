#include <gtest/gtest.h>

#include <utility>

#include "gradient_check.h"
#include "matrix_literals.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

using testing::matrix;

// The value of node type N over fresh leaves holding l and r; stale contents are planted first.
template <typename N>
MatrixXd value_of(const MatrixXd& l, const MatrixXd& r) {
  Variable a(l), b(r);
  N node(a, b);
  node.value = MatrixXd::Constant(4, 4, 7.0);
  node.compute();
  return node.value;
}

TEST(LinearNodes, AddAndMinusOfSameShapesAndOfOneRowOverEveryRow) {
  const MatrixXd l = matrix(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(value_of<Add>(l, matrix(1, 2, {10, 20})), matrix(2, 2, {11, 22, 13, 24}));
  EXPECT_EQ(value_of<Minus>(l, matrix(1, 2, {10, 20})), matrix(2, 2, {-9, -18, -7, -16}));
  EXPECT_EQ(value_of<Add>(l, matrix(2, 2, {0.5, -4, 8, 1})), matrix(2, 2, {1.5, -2, 11, 5}));
  EXPECT_EQ(value_of<Minus>(l, matrix(2, 2, {0.5, -4, 8, 1})), matrix(2, 2, {0.5, 6, -5, 3}));
}

TEST(LinearNodes, ShapesThatDoNotCombineGiveZerosOfTheLeftShape) {
  // Column counts differ; then same width but several rows, not the left's count.
  for (const auto& [l, r] : {std::pair{MatrixXd::Constant(2, 3, 5.0), MatrixXd::Ones(2, 2)},
                             std::pair{MatrixXd::Constant(3, 2, 5.0), MatrixXd::Ones(2, 2)}}) {
    EXPECT_EQ(value_of<Add>(l, r), MatrixXd::Zero(l.rows(), l.cols()));
    EXPECT_EQ(value_of<Minus>(l, r), MatrixXd::Zero(l.rows(), l.cols()));
  }
}

TEST(LinearNodes, NoRowsAndOneRowGiveNoRows) {
  for (const MatrixXd& v : {value_of<Add>(MatrixXd(0, 3), MatrixXd::Ones(1, 3)),
                            value_of<Minus>(MatrixXd(0, 3), MatrixXd::Ones(1, 3))}) {
    EXPECT_EQ(v.rows(), 0);
    EXPECT_EQ(v.cols(), 3);
  }
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

// A single row times a matrix takes plain loops for small matrices and Eigen's product for
// larger ones, and the training pass's gradients of a product the same two ways: each must give
// the product summed term by term in index order (exactly for the loops, to rounding for Eigen).
TEST(LinearNodes, SingleRowProductsOfEverySizeAgreeWithTheTextbookSums) {
  for (const auto& [n, u] : {std::pair{1, 1}, std::pair{3, 8}, std::pair{8, 4}, std::pair{6, 9},
                             std::pair{5, 12}, std::pair{40, 33}}) {
    Variable x(MatrixXd::Random(1, n)), W(MatrixXd::Random(n, u));
    Dot P(x, W);
    P.compute();
    P.grad = MatrixXd::Random(1, u);
    ASSERT_TRUE(P.chain_to_operands());
    const double tolerance = n * u <= 64 ? 0.0 : 1e-13;
    for (int j = 0; j < u; ++j) {
      double sum = 0.0;
      for (int i = 0; i < n; ++i) sum += x.value(0, i) * W.value(i, j);
      EXPECT_NEAR(P.value(0, j), sum, tolerance) << n << "x" << u << " column " << j;
    }
    for (int i = 0; i < n; ++i) {
      double sum = 0.0;
      for (int j = 0; j < u; ++j) sum += P.grad(0, j) * W.value(i, j);
      EXPECT_NEAR(x.grad(0, i), sum, tolerance) << n << "x" << u << " input " << i;
      for (int j = 0; j < u; ++j) EXPECT_EQ(W.grad(i, j), x.value(0, i) * P.grad(0, j));
    }
  }
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

// Checks the local derivatives that backprop hands to a left operand l and a right operand r.
template <typename N>
void expect_local_grads(const MatrixXd& l, const MatrixXd& r, const MatrixXd& expected_left,
                        const MatrixXd& expected_right) {
  Variable a(l), b(r);
  N node(a, b);
  node.backprop();
  EXPECT_EQ(a.local_grad, expected_left);
  EXPECT_EQ(b.local_grad, expected_right);
}

TEST(LinearNodes, BackpropShapesAndSigns) {
  // Add gives ones of the left shape to both operands, also to a broadcast row.
  const MatrixXd ones14 = MatrixXd::Ones(1, 4), ones34 = MatrixXd::Ones(3, 4);
  expect_local_grads<Add>(ones14, ones14, ones14, ones14);
  expect_local_grads<Add>(ones34, ones14, ones34, ones34);
  // Minus gives ones of the left shape, and minus ones of the right shape.
  expect_local_grads<Minus>(ones34, ones14, ones34, -ones14);
  // Dot gives each operand the other's transpose.
  const MatrixXd l = matrix(1, 2, {1, 2}), r = matrix(2, 3, {1, 2, 3, 4, 5, 6});
  expect_local_grads<Dot>(l, r, r.transpose(), l.transpose());
}

TEST(LinearNodes, MinusLeavesAConstantTargetAlone) {
  Variable output(MatrixXd::Constant(1, 2, 2.0));
  Const target(MatrixXd::Constant(1, 2, 1.0));
  Minus difference(output, target);
  difference.backprop();
  EXPECT_EQ(output.local_grad, MatrixXd::Ones(1, 2));
  EXPECT_EQ(target.local_grad.size(), 0);
}

template <typename N>
void expect_derivatives_match(const MatrixXd& l, const MatrixXd& r) {
  Variable a(l), b(r);
  N node(a, b);
  const MatrixXd weights = MatrixXd::Random(l.rows(), r.cols());
  for (Nodes* operand : {static_cast<Nodes*>(&a), static_cast<Nodes*>(&b)}) {
    EXPECT_TRUE(testing::chained_gradient(node, *operand, weights)
                    .isApprox(testing::numeric_gradient(node, *operand, weights), 1e-7));
  }
}

TEST(LinearNodes, DerivativesMatchFiniteDifferences) {
  expect_derivatives_match<Add>(MatrixXd::Random(2, 3), MatrixXd::Random(2, 3));
  expect_derivatives_match<Minus>(MatrixXd::Random(2, 3), MatrixXd::Random(2, 3));
  expect_derivatives_match<Dot>(MatrixXd::Random(2, 4), MatrixXd::Random(4, 3));
}

}  // namespace
}  // namespace oscnet
