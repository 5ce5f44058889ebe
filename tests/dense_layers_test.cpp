// Evaluating the output layer by layer must write every node's value bit for bit as evaluating
// node by node does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/dense_layers.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

std::vector<MatrixXd> output_values() {
  std::vector<MatrixXd> values;
  for (std::size_t k = 0; k < plan.output_steps; ++k) values.push_back(plan.forward[k]->value);
  return values;
}

bool same_bits(const std::vector<MatrixXd>& a, const std::vector<MatrixXd>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].rows() != b[k].rows() || a[k].cols() != b[k].cols() ||
        std::memcmp(a[k].data(), b[k].data(), sizeof(double) * a[k].size()) != 0) {
      return false;
    }
  }
  return true;
}

// Narrow layers take the plain product and wide ones Eigen's; every activation code, the
// oscillator's draws repeated; inputs that saturate units and ones that are not numbers.
TEST(DenseLayers, WriteEveryValueAsTheNodesDo) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (const int width : {3, 12}) {
    const int layers = 5, inputs = width, outputs = 2;
    const int units[5] = {width, width + 1, width, width + 9, width}, codes[5] = {0, 1, 2, 3, 9};
    std::vector<double> x(width), y{0.5, -1.5};
    for (int j = 0; j < width; ++j) x[j] = 0.9 * std::sin(1.0 + j);
    ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x.data(), y.data(), units, codes));
    ASSERT_EQ(plan.dense.size(), 6u);
    for (Nodes* P : parameters) P->value *= 40.0;
    for (const double first : {0.3, 2.0, -kInf, std::nan("")}) {
      input_node->value(0, 0) = first;
      std::srand(5);
      for (std::size_t k = 0; k < plan.output_steps; ++k) plan.forward[k]->compute();
      const std::vector<MatrixXd> by_nodes = output_values();
      for (std::size_t k = 0; k < plan.output_steps; ++k) plan.forward[k]->value.setConstant(7.0);
      std::srand(5);
      evaluate_dense(plan.dense);
      EXPECT_TRUE(same_bits(output_values(), by_nodes)) << "width " << width << ", x0 " << first;
    }
    release_network();
  }
}

TEST(DenseLayers, FindsTheBuildersLayersAndNothingElse) {
  const int layers = 2, inputs = 3, outputs = 2, units[2] = {8, 4}, codes[2] = {3, 7};
  const double x[3] = {0.1, 0.2, 0.3}, y[2] = {1, 0};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  ASSERT_EQ(plan.dense.size(), 3u);
  EXPECT_EQ(plan.dense[0].kind, DenseLayer::Activation::other);  // the oscillator
  EXPECT_EQ(plan.dense[1].activation, nullptr);                  // code 7: none
  EXPECT_EQ(plan.dense[2].activation, nullptr);                  // the output layer
  EXPECT_EQ(plan.dense[2].sum, output_node);
  release_network();

  // A product whose sum does not follow it is not a layer.
  Variable a(MatrixXd::Ones(1, 2)), w(MatrixXd::Ones(2, 2)), b(MatrixXd::Ones(1, 2));
  Dot product(a, w);
  Add other(a, b);
  EXPECT_TRUE(dense_layers({&product, &other}).empty());
  EXPECT_TRUE(dense_layers({&product}).empty());
}

}  // namespace
}  // namespace oscnet
