// The backward pass over whole built networks against central differences of the loss.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "gradient_check.h"
#include "network/backward.h"
#include "nodes/lee_osc.h"

namespace oscnet {
namespace {

double loss_value() {
  return forward(loss_node)->value(0, 0);
}

// Central differences of the loss with respect to every coefficient of `node`'s value.
MatrixXd numeric_loss_gradient(Nodes& node) {
  const MatrixXd gradient = testing::central_differences(node.value, loss_value);
  loss_value();
  return gradient;
}

// Builds 3 -> 5 -> 4 -> 2 with `code` on both hidden layers, then replaces the tiny initial
// weights by larger ones so that every activation works away from zero.
void build_test_network(int code) {
  const int layers = 2, inputs = 3, outputs = 2;
  const int units[2] = {5, 4}, codes[2] = {code, code};
  const double x[3] = {0.7, -0.4, 0.2}, y[2] = {0.3, -0.6};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  std::mt19937 engine(2024);
  std::uniform_real_distribution<double> weight(-0.5, 0.5);
  for (Nodes* P : parameters) {
    for (Eigen::Index k = 0; k < P->value.size(); ++k) P->value(k) = weight(engine);
  }
}

void expect_gradients_match_differences() {
  ASSERT_GT(loss_value(), 1e-3);
  backward(loss_node);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const MatrixXd analytic = parameters[i]->grad;
    const MatrixXd numeric = numeric_loss_gradient(*parameters[i]);
    EXPECT_LT((analytic - numeric).cwiseAbs().maxCoeff(), 1e-7) << "parameter " << i << "\n"
                                                                << analytic << "\n"
                                                                << numeric;
  }
  const MatrixXd input_gradient = input_node->grad;
  EXPECT_LT((input_gradient - numeric_loss_gradient(*input_node)).cwiseAbs().maxCoeff(), 1e-7);
}

class WholeNetworkGradient : public ::testing::TestWithParam<int> {};

TEST_P(WholeNetworkGradient, MatchesCentralDifferences) {
  build_test_network(GetParam());
  expect_gradients_match_differences();
  // Once more after a training step, when the root takes its ordinary case.
  const double rate = 0.05;
  const int gradient_descent = 0;
  const double x[3] = {-0.2, 0.9, 0.5}, y[2] = {-0.1, 0.4};
  train_network(3, 2, x, y, 1, &rate, &gradient_descent);
  expect_gradients_match_differences();
  release_network();
}

// Rectifier, logistic, tanh(6x) and a code that means no activation.
INSTANTIATE_TEST_SUITE_P(EveryDifferentiableActivation, WholeNetworkGradient,
                         ::testing::Values(0, 1, 2, 4));

// Stands in for an oscillator node whose samples are frozen: it returns the recorded samples
// plus the change of the surrogate tanh(4x) since they were drawn, which makes the surrogate
// slope the true derivative at the recorded point.
class FrozenOscillator : public Nodes {
 public:
  explicit FrozenOscillator(const Lee_Osc& drawn)
      : samples_(drawn.value), at_(drawn.left->value), steepness_(drawn.steepness) {
    link(*drawn.left);
  }
  void compute() override {
    value = samples_.array() +
            ((steepness_ * left->value.array()).tanh() - (steepness_ * at_.array()).tanh());
  }

 private:
  MatrixXd samples_, at_;
  double steepness_;
};

TEST(WholeNetworkGradient, OscillatorLayersPassTheSurrogateSlope) {
  std::srand(7);
  build_test_network(3);
  // Scale the weights down so that the oscillators' inputs fall inside their chaotic band.
  for (Nodes* P : parameters) P->value *= 0.2;
  forward(loss_node);
  backward(loss_node);
  const double drawn_loss = loss_node->value(0, 0);
  std::vector<MatrixXd> analytic;
  for (Nodes* P : parameters) analytic.push_back(P->grad);

  // Swap every oscillator for its frozen stand-in, differentiate numerically, swap back.
  struct Swap {
    Nodes* product;
    Lee_Osc* oscillator;
    std::unique_ptr<FrozenOscillator> stand_in;
  };
  std::vector<Swap> swaps;
  for (Nodes* P : parameters) {
    Nodes* product = P->consumer;
    if (auto* lee = dynamic_cast<Lee_Osc*>(product->left)) {
      swaps.push_back({product, lee, std::make_unique<FrozenOscillator>(*lee)});
      product->left = swaps.back().stand_in.get();
    }
  }
  ASSERT_EQ(swaps.size(), 2u);
  ASSERT_EQ(loss_value(), drawn_loss);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    EXPECT_LT((analytic[i] - numeric_loss_gradient(*parameters[i])).cwiseAbs().maxCoeff(), 1e-7)
        << "parameter " << i;
  }
  for (Swap& swap : swaps) {
    swap.product->left = swap.oscillator;
    swap.oscillator->left->consumer = swap.oscillator;
  }
  release_network();
}

}  // namespace
}  // namespace oscnet
