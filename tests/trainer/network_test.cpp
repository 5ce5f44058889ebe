// The trainer's network over a library handle: weights in and out, rows in blocks, and networks
// on threads of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "trainer/input_error.h"
#include "trainer/network.h"

namespace trainer {
namespace {

const std::vector<HiddenLayer> kLeeLayers = {{6, Activation::tanh}, {5, Activation::lee}};

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<double> random_values(std::size_t count, double spread, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> draw(-spread, spread);
  std::vector<double> values(count);
  for (double& value : values) value = draw(engine);
  return values;
}

TEST(Network, LayoutAndWeightsRoundTrip) {
  Network network(3, 2, kLeeLayers, 1);
  EXPECT_EQ(network.layout().widths, (std::vector<int>{3, 6, 5, 2}));
  EXPECT_EQ(network.inputs(), 3);
  EXPECT_EQ(network.outputs(), 2);
  const std::vector<double> params = random_values((3 + 1) * 6 + (6 + 1) * 5 + (5 + 1) * 2, 1, 2);
  ASSERT_EQ(network.params().size(), params.size());
  network.set_params(params);
  EXPECT_TRUE(same_bits(network.params(), params));
  EXPECT_THROW(network.set_params(std::vector<double>(params.size() - 1)), std::runtime_error);
  EXPECT_TRUE(same_bits(network.params(), params));
}

TEST(Network, ARefusedNetworkSaysWhy) {
  try {
    Network network(0, 1, kLeeLayers, 1);
    ADD_FAILURE() << "took a network of no inputs";
  } catch (const InputError& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("the library refused a network of 0 inputs", 0), 0u) << message;
    // The library's own reason follows.
    EXPECT_GT(message.size(), message.find("outputs: ") + 9) << message;
  }
}

TEST(Network, RowsInBlocksGiveWhatRowByRowGives) {
  // More rows than one block holds, and oscillator units: the draws must be taken in row order
  // across the blocks.
  const std::size_t rows = 2500;
  const std::vector<double> inputs = random_values(rows * 3, 1.5, 4);
  const std::vector<double> params = random_values(24 + 35 + 12, 0.8, 5);
  Network together(3, 2, kLeeLayers, 9);
  Network one_by_one(3, 2, kLeeLayers, 9);
  together.set_params(params);
  one_by_one.set_params(params);
  std::vector<double> block(rows * 2);
  together.predict_rows(inputs.data(), rows, block.data());
  std::vector<double> single(rows * 2);
  for (std::size_t r = 0; r < rows; ++r) one_by_one.predict(&inputs[r * 3], &single[r * 2]);
  EXPECT_TRUE(same_bits(block, single));
  // The oscillator took draws: a network of another seed gives other outputs.
  Network other(3, 2, kLeeLayers, 10);
  other.set_params(params);
  std::vector<double> other_block(rows * 2);
  other.predict_rows(inputs.data(), rows, other_block.data());
  EXPECT_FALSE(same_bits(block, other_block));
}

// Trains a network of `seed` on a few rows of y = x0 * x1 and returns its weights.
std::vector<double> trained(unsigned seed, int optimizer_code) {
  Network network(2, 1, kLeeLayers, seed);
  network.set_params(random_values(18 + 35 + 6, 0.3, seed));
  const std::vector<double> inputs = random_values(40, 1, 6);
  for (int epoch = 0; epoch < 20; ++epoch) {
    for (std::size_t r = 0; r < 20; ++r) {
      const double target = inputs[2 * r] * inputs[2 * r + 1];
      const double loss = network.train(&inputs[2 * r], &target, 1, 0.05, optimizer_code);
      EXPECT_TRUE(std::isfinite(loss));
    }
  }
  return network.params();
}

TEST(Network, NetworksOnThreadsTrainAsOneAfterAnother) {
  for (const int optimizer_code : {OSCNET_GRADIENT_DESCENT, OSCNET_ADAGRAD}) {
    std::vector<std::vector<double>> in_turn;
    for (unsigned seed = 1; seed <= 4; ++seed) in_turn.push_back(trained(seed, optimizer_code));
    std::vector<std::vector<double>> side_by_side(4);
    std::vector<std::thread> threads;
    for (unsigned seed = 1; seed <= 4; ++seed) {
      threads.emplace_back([&, seed] { side_by_side[seed - 1] = trained(seed, optimizer_code); });
    }
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(same_bits(side_by_side[i], in_turn[i])) << "seed " << i + 1;
    }
    EXPECT_FALSE(same_bits(in_turn[0], in_turn[1]));
  }
}

}  // namespace
}  // namespace trainer
