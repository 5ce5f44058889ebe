// The generator of the initial weights is seeded from the clock on the first layer that a
// process builds. These tests find that seed again and replay the stream against the weights.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <random>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/builders.h"
#include "nodes/leaf_nodes.h"

namespace oscnet {
namespace {

// Draws taken by this process so far, kept by every test that builds.
long draws_taken = 0;

struct FirstLayer {
  std::uint32_t seed;
  bool seed_found;
};

// Builds the process's first layer (3 inputs, 8 units) with the clock read around it, and
// finds the one second in that window whose stream gives exactly its 24 weights, column by
// column, and then its 8 biases.
const FirstLayer& first_layer() {
  static const FirstLayer first = [] {
    auto* x = new Input(MatrixXd::Ones(1, 3));
    const std::time_t before = std::time(nullptr);
    Nodes* S = build_dense(x, 8);
    const std::time_t after = std::time(nullptr);
    draws_taken += 32;
    const MatrixXd W = S->left->right->value;
    const MatrixXd b = S->right->value;
    release_graph(S);

    FirstLayer found{0, false};
    for (std::time_t t = before; t <= after; ++t) {
      std::mt19937 engine(static_cast<std::uint32_t>(t));
      std::normal_distribution<double> dist(0.0, 0.01);
      bool same = true;
      for (Eigen::Index j = 0; j < 8; ++j)
        for (Eigen::Index i = 0; i < 3; ++i) same = same && W(i, j) == dist(engine);
      for (Eigen::Index j = 0; j < 8; ++j) same = same && b(0, j) == dist(engine);
      if (same) found = FirstLayer{static_cast<std::uint32_t>(t), true};
    }
    return found;
  }();
  return first;
}

TEST(RandomSource, SeededOnceFromTheClockAndDrawnColumnByColumn) {
  ASSERT_TRUE(first_layer().seed_found)
      << "no second of the build matches the weights drawn by a Mersenne Twister";
}

TEST(RandomSource, LaterNetworksContinueTheStream) {
  ASSERT_TRUE(first_layer().seed_found);
  std::mt19937 engine(first_layer().seed);
  std::normal_distribution<double> dist(0.0, 0.01);
  for (long k = 0; k < draws_taken; ++k) dist(engine);

  // Two networks one after the other: 2 inputs, 3 units, 1 output; 13 draws each.
  for (int network = 0; network < 2; ++network) {
    const int layers = 1, inputs = 2, outputs = 1, units = 3, code = 2;
    const double x[2] = {0.5, -0.5}, y[1] = {0.25};
    ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, &units, &code));
    draws_taken += 13;
    ASSERT_EQ(parameters.size(), 4u);
    for (Nodes* P : parameters) {
      for (Eigen::Index k = 0; k < P->value.size(); ++k) {
        ASSERT_EQ(P->value.data()[k], dist(engine)) << "network " << network;
      }
    }
    release_network();
  }
}

TEST(RandomSource, DrawsHaveMeanZeroAndDeviationOneHundredth) {
  first_layer();
  auto* x = new Input(MatrixXd::Ones(1, 400));
  Nodes* S = build_dense(x, 500);
  draws_taken += 400 * 500 + 500;
  const MatrixXd& W = S->left->right->value;
  const double n = static_cast<double>(W.size());
  const double mean = W.sum() / n;
  const double deviation = std::sqrt((W.array() - mean).square().sum() / (n - 1));
  // Standard errors: 0.01 / sqrt(n) = 2.2e-5 for the mean, about 1.6e-5 for the deviation.
  EXPECT_NEAR(mean, 0.0, 1e-4);
  EXPECT_NEAR(deviation, 0.01, 1e-4);
  release_graph(S);
}

}  // namespace
}  // namespace oscnet
