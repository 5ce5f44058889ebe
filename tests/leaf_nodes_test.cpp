#include <gtest/gtest.h>

#include "nodes/leaf_nodes.h"

namespace oscnet {
namespace {

TEST(LeafNodes, FlagsTellTheKindsApart) {
  const MatrixXd m = MatrixXd::Zero(1, 1);
  Input input(m);
  Const constant(m);
  Variable variable(m);
  EXPECT_TRUE(input.requires_grad);
  EXPECT_FALSE(input.is_param);
  EXPECT_FALSE(constant.requires_grad);
  EXPECT_FALSE(constant.is_param);
  EXPECT_TRUE(variable.requires_grad);
  EXPECT_TRUE(variable.is_param);
  for (const Nodes* leaf : {static_cast<Nodes*>(&input), static_cast<Nodes*>(&constant),
                            static_cast<Nodes*>(&variable)}) {
    EXPECT_FALSE(leaf->is_matmul);
    EXPECT_EQ(leaf->left, nullptr);
    EXPECT_EQ(leaf->right, nullptr);
  }
}

TEST(LeafNodes, KeepOwnCopyOfTheInitialMatrix) {
  MatrixXd m(1, 3);
  m << 1.5, -2.0, 3.25;
  Variable leaf(m);
  m(0, 1) = 99.0;
  ASSERT_EQ(leaf.value.rows(), 1);
  ASSERT_EQ(leaf.value.cols(), 3);
  EXPECT_EQ(leaf.value(0, 0), 1.5);
  EXPECT_EQ(leaf.value(0, 1), -2.0);
  EXPECT_EQ(leaf.value(0, 2), 3.25);
  EXPECT_EQ(leaf.grad.size(), 0);
  EXPECT_EQ(leaf.local_grad.size(), 0);
}

TEST(LeafNodes, AcceptEmptyMatrices) {
  Input leaf{MatrixXd()};
  EXPECT_EQ(leaf.value.size(), 0);
  leaf.compute();
  leaf.backprop();
  EXPECT_EQ(leaf.value.size(), 0);
}

}  // namespace
}  // namespace oscnet
