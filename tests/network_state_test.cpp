#include <gtest/gtest.h>

#include "api/network_state.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// A parameter that reports its own destruction.
class CountedVariable : public Variable {
 public:
  CountedVariable(MatrixXd initial, int& destroyed)
      : Variable(std::move(initial)), destroyed_(destroyed) {}
  ~CountedVariable() override { ++destroyed_; }

 private:
  int& destroyed_;
};

TEST(NetworkState, ReleaseWithoutNetworkDoesNothing) {
  ASSERT_EQ(loss_node, nullptr);
  ASSERT_TRUE(parameters.empty());
  release_network();
  EXPECT_EQ(loss_node, nullptr);
  EXPECT_TRUE(parameters.empty());
}

TEST(NetworkState, ReleaseDestroysTheTreeAndClearsEveryReference) {
  int destroyed = 0;
  input_node = new Input(MatrixXd::Ones(1, 2));
  target_node = new Const(MatrixXd::Zero(1, 1));
  auto* weights = new CountedVariable(MatrixXd::Ones(2, 1), destroyed);
  auto* bias = new CountedVariable(MatrixXd::Zero(1, 1), destroyed);
  output_node = new Add(*new Dot(*input_node, *weights), *bias);
  loss_node = new F_Norm(*new Minus(*output_node, *target_node));
  parameters = {weights, bias};
  forward(loss_node);
  ASSERT_EQ(loss_node->value(0, 0), 4.0);

  release_network();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(loss_node, nullptr);
  EXPECT_EQ(output_node, nullptr);
  EXPECT_EQ(input_node, nullptr);
  EXPECT_EQ(target_node, nullptr);
  EXPECT_TRUE(parameters.empty());

  release_network();  // a second release finds nothing to do
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
}  // namespace oscnet
