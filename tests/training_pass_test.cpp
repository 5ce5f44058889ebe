// The training pass that moves each parameter as soon as its gradient is final must leave every
// weight bit for bit where the general pass followed by the optimizer's step leaves it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/backward.h"
#include "network/optimizer.h"
#include "network/training_pass.h"

namespace oscnet {
namespace {

std::vector<MatrixXd> values_of(const std::vector<Nodes*>& nodes, bool gradients) {
  std::vector<MatrixXd> all;
  for (const Nodes* N : nodes) all.push_back(gradients ? N->grad : N->value);
  return all;
}

void restore(const std::vector<MatrixXd>& weights) {
  for (std::size_t i = 0; i < parameters.size(); ++i) parameters[i]->value = weights[i];
}

// Trains `steps` steps with each rule both ways from the same weights and compares: the weights
// after every step, and the gradients that a pass keeping them leaves.
void expect_same_training(int steps) {
  const std::vector<MatrixXd> start = values_of(parameters, false);
  for (const bool adagrad : {false, true}) {
    G_D_Optimizer descent(parameters, 0.05);
    Adagrad_Optimizer sums(parameters, 0.05);
    Optimizer& general = adagrad ? static_cast<Optimizer&>(sums) : descent;
    restore(start);
    std::srand(3);  // the oscillator's draws repeat
    std::vector<std::vector<MatrixXd>> weights, gradients;
    for (int i = 0; i < steps; ++i) {
      evaluate(plan.forward);
      backward_along(plan.backward);
      general.step();
      weights.push_back(values_of(parameters, false));
      gradients.push_back(values_of(parameters, true));
    }
    Adagrad_Optimizer fused_sums(parameters, 0.05);
    const UpdateRule rule{0.05, adagrad ? &fused_sums.accum : nullptr};
    restore(start);
    std::srand(3);
    for (int i = 0; i < steps; ++i) {
      const bool keep = i % 2 == 1;
      for (Nodes* P : parameters) P->grad.setConstant(7.0);
      evaluate(plan.forward);
      backward_updating(plan.training, rule, keep);
      EXPECT_EQ(values_of(parameters, false), weights[i])
          << "step " << i << ", adagrad " << adagrad;
      for (std::size_t p = 0; p < parameters.size(); ++p) {
        const MatrixXd& kept = parameters[p]->grad;
        if (keep) {
          EXPECT_EQ(kept, gradients[i][p]) << "step " << i << ", parameter " << p;
        } else {
          EXPECT_TRUE((kept.array() == 7.0).all()) << "step " << i << ", parameter " << p;
        }
      }
    }
    if (adagrad) {
      EXPECT_EQ(fused_sums.accum, sums.accum);
    }
  }
}

// Narrow layers take the plain loops and wide ones Eigen's products; every activation code.
TEST(TrainingPass, MovesEveryWeightAsTheGeneralPassAndTheOptimizersDo) {
  for (const int width : {3, 6, 40}) {
    const int layers = 5, inputs = width, outputs = 2;
    const int units[5] = {width, width + 1, width, width + 2, width}, codes[5] = {0, 1, 2, 3, 9};
    std::vector<double> x(width), y{0.5, -1.5};
    for (int j = 0; j < width; ++j) x[j] = 0.9 * std::sin(1.0 + j);
    ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x.data(), y.data(), units, codes));
    for (Nodes* P : parameters) P->value *= 4.0;
    evaluate(plan.forward);
    backward_along(plan.backward);  // sizes every gradient
    expect_same_training(4);
    release_network();
  }
}

TEST(TrainingPass, FindsEachLayersWeightsAndBias) {
  const int layers = 2, inputs = 3, outputs = 2, units[2] = {8, 4}, codes[2] = {0, 1};
  const double x[3] = {0.1, 0.2, 0.3}, y[2] = {1, 0};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  std::vector<int> found;
  for (const TrainingStep& step : plan.training) {
    if (step.parameter < 0) {
      EXPECT_EQ(step.update, TrainingStep::Update::none);
      continue;
    }
    found.push_back(step.parameter);
    EXPECT_EQ(step.node->right, parameters[static_cast<std::size_t>(step.parameter)]);
    EXPECT_EQ(step.update,
              step.parameter % 2 == 0 ? TrainingStep::Update::weights : TrainingStep::Update::bias);
  }
  EXPECT_EQ(found, (std::vector<int>{5, 4, 3, 2, 1, 0}));  // from the output layer down
  release_network();
}

}  // namespace
}  // namespace oscnet
