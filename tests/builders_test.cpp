#include <gtest/gtest.h>

#include "matrix_literals.h"
#include "network/builders.h"
#include "nodes/activations.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

using testing::row;

// The four nodes of a dense layer, found from its sum node.
struct DenseLayer {
  explicit DenseLayer(Nodes* sum) : S(sum), P(sum->left), b(sum->right), W(sum->left->right) {}
  Nodes *S, *P, *b, *W;
};

TEST(BuildDense, MakesWeightsProductBiasAndSumAndEvaluatesThemAtOnce) {
  auto* X = new Input(row({1.0, -2.0, 0.5}));
  const DenseLayer layer(build_dense(X, 8));

  ASSERT_NE(dynamic_cast<Add*>(layer.S), nullptr);
  ASSERT_NE(dynamic_cast<Dot*>(layer.P), nullptr);
  ASSERT_NE(dynamic_cast<Variable*>(layer.W), nullptr);
  ASSERT_NE(dynamic_cast<Variable*>(layer.b), nullptr);
  EXPECT_EQ(layer.P->left, X);
  EXPECT_EQ(X->consumer, layer.P);
  EXPECT_EQ(layer.W->consumer, layer.P);
  EXPECT_EQ(layer.P->consumer, layer.S);
  EXPECT_EQ(layer.b->consumer, layer.S);
  EXPECT_EQ(layer.S->consumer, nullptr);

  ASSERT_EQ(layer.W->value.rows(), 3);
  ASSERT_EQ(layer.W->value.cols(), 8);
  ASSERT_EQ(layer.b->value.rows(), 1);
  ASSERT_EQ(layer.b->value.cols(), 8);
  // Every coefficient is a fresh draw: no two alike, none far out for a deviation of 0.01.
  EXPECT_LT(layer.W->value.cwiseAbs().maxCoeff(), 0.08);
  EXPECT_GT(layer.W->value.cwiseAbs().minCoeff(), 0.0);
  for (Eigen::Index j = 0; j < 8; ++j) {
    double expected = 0.0;
    for (Eigen::Index k = 0; k < 3; ++k) expected += X->value(0, k) * layer.W->value(k, j);
    EXPECT_NEAR(layer.P->value(0, j), expected, 1e-16);
    EXPECT_EQ(layer.S->value(0, j), layer.P->value(0, j) + layer.b->value(0, j));
  }

  // The layer holds what X held when it was built, until the next evaluation.
  const MatrixXd built = layer.S->value;
  X->value = row({0.0, 0.0, 0.0});
  EXPECT_EQ(layer.S->value, built);
  forward(layer.S);
  EXPECT_EQ(layer.S->value, layer.b->value);
  release_graph(layer.S);
}

TEST(BuildDense, SizesTheWeightsFromTheNodeBelow) {
  auto* X = new Input(row({0.3, 0.1, -0.2}));
  Nodes* top = new Sigmoid(*build_dense(X, 8));
  const DenseLayer layer(build_dense(top, 4));
  EXPECT_EQ(layer.W->value.rows(), 8);
  EXPECT_EQ(layer.W->value.cols(), 4);
  EXPECT_EQ(layer.S->value.rows(), 1);
  EXPECT_EQ(layer.S->value.cols(), 4);
  EXPECT_EQ(layer.P->left, top);

  // A batch of several rows gives a product of as many rows, each with the bias added.
  auto* batch = new Input(MatrixXd::Ones(3, 2));
  const DenseLayer wide(build_dense(batch, 5));
  EXPECT_EQ(wide.S->value.rows(), 3);
  for (Eigen::Index i = 0; i < 3; ++i) EXPECT_EQ(wide.S->value.row(i), wide.S->value.row(0));
  release_graph(layer.S);
  release_graph(wide.S);
}

TEST(BuildLoss, PutsTheDifferenceAndItsNormOverOutputAndTargetUnevaluated) {
  auto* output = new Input(row({1.0, 3.0}));
  auto* target = new Const(row({0.5, 1.0}));
  Nodes* L = build_loss(output, target);
  ASSERT_NE(dynamic_cast<F_Norm*>(L), nullptr);
  Nodes* D = L->left;
  ASSERT_NE(dynamic_cast<Minus*>(D), nullptr);
  EXPECT_EQ(L->right, nullptr);
  EXPECT_EQ(D->left, output);
  EXPECT_EQ(D->right, target);
  EXPECT_EQ(output->consumer, D);
  EXPECT_EQ(target->consumer, D);
  EXPECT_EQ(D->consumer, L);
  EXPECT_EQ(D->value.size(), 0);
  EXPECT_EQ(L->value.size(), 0);

  forward(L);
  EXPECT_EQ(D->value, row({0.5, 2.0}));
  EXPECT_EQ(L->value(0, 0), 4.25);
  release_graph(L);
}

}  // namespace
}  // namespace oscnet
