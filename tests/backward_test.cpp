#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "matrix_literals.h"
#include "network/backward.h"
#include "network/builders.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

using testing::matrix;
using testing::row;

// A node of class N that notes in `log` when the backward pass handles it.
template <typename N>
class Logged : public N {
 public:
  template <typename... Operands>
  Logged(const char* name, std::vector<const char*>& log, Operands&... operands)
      : N(operands...), name_(name), log_(log) {}
  Logged(const char* name, std::vector<const char*>& log, MatrixXd value)
      : N(std::move(value)), name_(name), log_(log) {}
  void backprop() override {
    log_.push_back(name_);
    N::backprop();
  }

 private:
  const char* name_;
  std::vector<const char*>& log_;
};

// One unit on the input [1, 2] with W = [0.5, -0.5]', b = 0.1 and the target 0.
struct WorkedExample {
  std::vector<const char*> log;
  Logged<Input> X{"X", log, row({1, 2})};
  Logged<Variable> W{"W", log, matrix(2, 1, {0.5, -0.5})};
  Logged<Variable> b{"b", log, row({0.1})};
  Logged<Const> T{"T", log, row({0})};
  Logged<Dot> P{"P", log, X, W};
  Logged<Add> S{"S", log, P, b};
  Logged<Minus> D{"D", log, S, T};
  Logged<F_Norm> L{"L", log, D};
};

TEST(Backward, WorkedExampleValuesGradientsAndOrder) {
  WorkedExample net;
  forward(&net.L);
  EXPECT_EQ(net.P.value, row({-0.5}));
  EXPECT_EQ(net.S.value, row({-0.4}));
  EXPECT_EQ(net.D.value, row({-0.4}));
  EXPECT_DOUBLE_EQ(net.L.value(0, 0), 0.16);

  backward(&net.L);
  EXPECT_EQ(net.log, (std::vector<const char*>{"L", "D", "S", "P", "b", "X", "W"}));
  EXPECT_EQ(net.L.grad, row({1}));
  for (const MatrixXd* g : {&net.D.grad, &net.S.grad, &net.P.grad, &net.b.grad}) {
    EXPECT_EQ(*g, row({-0.8}));
  }
  EXPECT_EQ(net.X.grad, row({-0.4, 0.4}));
  EXPECT_EQ(net.W.grad, matrix(2, 1, {-0.8, -1.6}));
  EXPECT_EQ(net.T.grad.size(), 0);
  // The first pass seeds the root and copies the difference's local derivative.
  EXPECT_EQ(net.D.grad, net.D.local_grad);

  // A second pass over unchanged values takes the ordinary case at the root and agrees. It
  // starts from the root whatever the caller's queue still holds.
  const MatrixXd x_grad = net.X.grad, w_grad = net.W.grad;
  net.log.clear();
  std::vector<Nodes*> stale{&net.S};
  backward(&net.L, stale);
  EXPECT_EQ(net.log, (std::vector<const char*>{"L", "D", "S", "P", "b", "X", "W"}));
  EXPECT_EQ(net.L.grad, row({1}));
  EXPECT_EQ(net.D.grad, row({-0.8}));
  EXPECT_EQ(net.X.grad, x_grad);
  EXPECT_EQ(net.W.grad, w_grad);
}

TEST(Backward, NullRootOrRootWithoutOperandsChangesNothing) {
  backward(nullptr);
  Variable lone(row({1, 2}));
  backward(&lone);
  EXPECT_EQ(lone.grad.size(), 0);
  EXPECT_EQ(lone.local_grad.size(), 0);
}

TEST(Backward, SeedsTheRootWithOnesShapedLikeItsOperand) {
  // A root that is not a loss: the seed takes the shape of its left operand's value.
  Variable a(matrix(2, 3, {1, 2, 3, 4, 5, 6})), c(row({10, 20, 30}));
  Add sum(a, c);
  forward(&sum);
  backward(&sum);
  EXPECT_EQ(sum.grad, MatrixXd::Ones(2, 3));
  EXPECT_EQ(a.grad, MatrixXd::Ones(2, 3));
  // The one-row operand receives one gradient row per batch row, for the optimizers to reduce.
  EXPECT_EQ(c.grad, MatrixXd::Ones(2, 3));
}

// Training runs the pass along its stored order and lets nodes hand gradients straight to
// their operands; every gradient must come out as the general pass gives it. The narrow layers
// take plain loops and the wide ones Eigen's products, so both sizes are covered.
TEST(Backward, TheTrainingPassGivesTheGeneralPassesGradients) {
  for (const int width : {3, 6, 40}) {
    const int layers = 5, inputs = width, outputs = 2;
    const int units[5] = {width, width, width, width, width}, codes[5] = {0, 1, 2, 3, 9};
    std::vector<double> x(width), y{0.5, -1.5};
    for (int j = 0; j < width; ++j) x[j] = 0.9 * std::sin(1.0 + j);
    ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x.data(), y.data(), units, codes));
    // Weights large enough that every activation works away from zero.
    for (Nodes* P : parameters) P->value *= 40.0;
    std::vector<Nodes*> Q;
    evaluate(plan.forward);
    backward(loss_node, Q);  // the first pass seeds the root, as training's first step does
    std::vector<const Nodes*> reached;
    backward_order(loss_node, Q);
    std::vector<MatrixXd> general;
    for (const Nodes* N : Q) {
      reached.push_back(N);
      general.push_back(N->grad);
    }
    for (const Nodes* N : Q) const_cast<Nodes*>(N)->grad.setConstant(7.0);
    loss_node->grad.setOnes();
    backward_along(plan.backward);
    for (std::size_t i = 0; i < reached.size(); ++i) {
      const MatrixXd& fast = reached[i]->grad;
      ASSERT_TRUE(fast.rows() == general[i].rows() && fast.cols() == general[i].cols()) << i;
      const double scale = std::max(1.0, general[i].cwiseAbs().maxCoeff());
      EXPECT_LE((fast - general[i]).cwiseAbs().maxCoeff(), 1e-13 * scale)
          << "node " << i << " of the pass, width " << width;
    }
    release_network();
  }
}

TEST(ChainGrad, CoefficientWiseForEqualShapesElseAProductOnTheOperandsSide) {
  const MatrixXd g = matrix(2, 2, {1, 2, 3, 4});
  const MatrixXd local = matrix(2, 2, {0, 1, 1, 0});
  EXPECT_EQ(chain_grad(g, local, 'l', false), matrix(2, 2, {0, 2, 3, 0}));
  EXPECT_EQ(chain_grad(g, local, 'r', false), matrix(2, 2, {0, 2, 3, 0}));
  // At a product node, equal shapes still multiply as matrices.
  EXPECT_EQ(chain_grad(g, local, 'l', true), matrix(2, 2, {2, 1, 4, 3}));
  EXPECT_EQ(chain_grad(g, local, 'r', true), matrix(2, 2, {3, 4, 1, 2}));
  // Shapes that differ multiply as matrices whatever the flag says.
  EXPECT_EQ(chain_grad(row({1, 2}), matrix(2, 3, {1, 0, 1, 0, 1, 1}), 'l', false), row({1, 2, 3}));
  EXPECT_EQ(chain_grad(row({1, 2}), matrix(3, 1, {1, 2, 3}), 'r', false),
            matrix(3, 2, {1, 2, 2, 4, 3, 6}));
  // So do shapes that agree in one dimension only.
  EXPECT_EQ(chain_grad(row({1, 2}), matrix(2, 2, {0, 1, 1, 0}), 'l', false), row({2, 1}));
  EXPECT_EQ(chain_grad(matrix(2, 3, {1, 2, 3, 4, 5, 6}), matrix(2, 2, {0, 1, 1, 0}), 'r', false),
            matrix(2, 3, {4, 5, 6, 1, 2, 3}));
}

TEST(CollectParams, LayerOrderWeightsBeforeBiasAppendedAfterExistingEntries) {
  const int layers = 2, inputs = 3, outputs = 2;
  const int units[2] = {8, 4}, codes[2] = {0, 1};
  const double x[3] = {0.1, 0.2, 0.3}, y[2] = {1, 0};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  const Eigen::Index shapes[6][2] = {{3, 8}, {1, 8}, {8, 4}, {1, 4}, {4, 2}, {1, 2}};
  ASSERT_EQ(parameters.size(), 6u);

  Nodes marker;
  std::vector<Nodes*> list{&marker};
  collect_params(loss_node, list);
  ASSERT_EQ(list.size(), 7u);
  EXPECT_EQ(list[0], &marker);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(list[i + 1], parameters[i]);
    EXPECT_TRUE(parameters[i]->is_param);
    EXPECT_EQ(parameters[i]->value.rows(), shapes[i][0]) << "parameter " << i;
    EXPECT_EQ(parameters[i]->value.cols(), shapes[i][1]) << "parameter " << i;
  }
  // Weights feed a product, biases the sum above it.
  EXPECT_NE(dynamic_cast<Dot*>(parameters[4]->consumer), nullptr);
  EXPECT_EQ(parameters[5]->consumer, output_node);

  collect_params(nullptr, list);
  EXPECT_EQ(list.size(), 7u);
  release_network();
}

TEST(Backward, InputReceivesAGradientAndTheTargetNone) {
  const int layers = 1, inputs = 3, outputs = 2, units = 4, code = 2;
  const double x[3] = {0.1, 0.2, 0.3}, y[2] = {1, 0};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, &units, &code));
  forward(loss_node);
  backward(loss_node);
  EXPECT_EQ(loss_node->grad, MatrixXd::Ones(1, 2));
  EXPECT_EQ(input_node->grad.rows(), 1);
  EXPECT_EQ(input_node->grad.cols(), 3);
  EXPECT_EQ(target_node->grad.size(), 0);
  for (Nodes* P : parameters) {
    EXPECT_EQ(P->grad.rows(), P->value.rows());
    EXPECT_EQ(P->grad.cols(), P->value.cols());
  }
  release_network();
}

}  // namespace
}  // namespace oscnet
