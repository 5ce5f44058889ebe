// Reading and writing every weight and bias of the built network as one flat array.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"

namespace oscnet {
namespace {

// Builds inputs -> units... -> outputs with the given activation codes on one example.
bool build(int inputs, std::vector<int> units, std::vector<int> codes, int outputs) {
  int layers = static_cast<int>(units.size());
  std::vector<double> x(inputs, 0.5), y(outputs, -0.5);
  return build_network(&layers, &inputs, &outputs, x.data(), y.data(), units.data(), codes.data());
}

std::vector<double> all_params() {
  std::vector<double> values(param_count());
  EXPECT_EQ(get_params(values.data(), param_count()), param_count());
  return values;
}

std::vector<double> prediction(std::vector<double> input, int outputs) {
  std::vector<double> output(outputs);
  predict(static_cast<int>(input.size()), outputs, input.data(), output.data());
  return output;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class Weights : public ::testing::Test {
 protected:
  void TearDown() override { release_network(); }
};

TEST_F(Weights, NothingToReadOrWriteWithoutANetwork) {
  double values[4] = {1, 2, 3, 4};
  EXPECT_EQ(param_count(), 0);
  EXPECT_EQ(get_params(values, 0), -1);
  EXPECT_EQ(set_params(values, 0), -1);
  ASSERT_TRUE(build(2, {3}, {0}, 1));
  release_network();
  EXPECT_EQ(param_count(), 0);
  EXPECT_EQ(get_params(values, 4), -1);
  EXPECT_EQ(values[0], 1);
}

TEST_F(Weights, CountsEveryWeightAndBias) {
  ASSERT_TRUE(build(3, {5, 4}, {0, 1}, 2));
  EXPECT_EQ(param_count(), (3 * 5 + 5) + (5 * 4 + 4) + (4 * 2 + 2));
  ASSERT_TRUE(build(1, {1}, {9}, 1));
  EXPECT_EQ(param_count(), 4);
}

TEST_F(Weights, LayerByLayerWeightsThenBiasColumnByColumn) {
  ASSERT_TRUE(build(3, {5, 4}, {2, 2}, 2));
  const std::vector<double> values = all_params();
  const int shapes[6][2] = {{3, 5}, {1, 5}, {5, 4}, {1, 4}, {4, 2}, {1, 2}};
  ASSERT_EQ(parameters.size(), 6u);
  std::size_t at = 0;
  for (int p = 0; p < 6; ++p) {
    const MatrixXd& value = parameters[p]->value;
    ASSERT_EQ(value.rows(), shapes[p][0]);
    ASSERT_EQ(value.cols(), shapes[p][1]);
    for (Eigen::Index c = 0; c < value.cols(); ++c)
      for (Eigen::Index r = 0; r < value.rows(); ++r) EXPECT_EQ(values[at++], value(r, c));
  }
  EXPECT_EQ(at, values.size());
}

TEST_F(Weights, SetWeightsGiveTheOutputWorkedByHand) {
  // 2 inputs -> 2 rectifier units -> 1 output.
  ASSERT_TRUE(build(2, {2}, {0}, 1));
  // W1 = [[1, -1], [2, 0.5]] by columns, b1 = [0.5, -3], W2 = [[2], [-1]], b2 = [0.25].
  const std::vector<double> weights = {1, 2, -1, 0.5, 0.5, -3, 2, -1, 0.25};
  ASSERT_EQ(set_params(weights.data(), 9), 9);
  // x = [1, 1]: hidden = relu([1 + 2 + 0.5, -1 + 0.5 - 3]) = [3.5, 0]; output = 7 + 0.25.
  EXPECT_EQ(prediction({1, 1}, 1), std::vector<double>{7.25});
  // x = [-1, 2]: hidden = relu([-1 + 4 + 0.5, 1 + 1 - 3]) = [3.5, 0].
  // x = [0, -2]: hidden = relu([-4 + 0.5, -1 - 3]) = [0, 0].
  EXPECT_EQ(prediction({-1, 2}, 1), std::vector<double>{7.25});
  EXPECT_EQ(prediction({0, -2}, 1), std::vector<double>{0.25});
  EXPECT_TRUE(same_bits(all_params(), weights));
}

TEST_F(Weights, SavedWeightsRestoreTheNetworkInAFreshBuild) {
  ASSERT_TRUE(build(3, {6, 4}, {2, 1}, 2));
  double x[3] = {0.3, -0.7, 0.9}, y[2] = {0.5, -0.25}, rate = 0.1;
  int gd = 0;
  train_network(3, 2, x, y, 50, &rate, &gd);
  const std::vector<double> saved = all_params();
  const std::vector<double> trained = prediction({0.1, 0.2, -0.3}, 2);
  const double next_loss = train_network(3, 2, x, y, 1, &rate, &gd);
  const std::vector<double> after_next_step = all_params();

  ASSERT_TRUE(build(3, {6, 4}, {2, 1}, 2));
  EXPECT_FALSE(same_bits(prediction({0.1, 0.2, -0.3}, 2), trained));
  ASSERT_EQ(set_params(saved.data(), static_cast<int>(saved.size())), param_count());
  EXPECT_TRUE(same_bits(prediction({0.1, 0.2, -0.3}, 2), trained));
  // Training goes on from the restored weights exactly as it did from the originals.
  EXPECT_EQ(train_network(3, 2, x, y, 1, &rate, &gd), next_loss);
  EXPECT_TRUE(same_bits(all_params(), after_next_step));
}

TEST_F(Weights, WrongCountsAndNullArraysChangeNothing) {
  ASSERT_TRUE(build(2, {3}, {2}, 1));
  const int count = param_count();
  const std::vector<double> before = all_params();
  std::vector<double> other(count + 1, 9.0);
  for (int n : {count - 1, count + 1, 0, -1, -count}) {
    EXPECT_EQ(set_params(other.data(), n), -1) << n;
    EXPECT_EQ(get_params(other.data(), n), -1) << n;
  }
  EXPECT_EQ(set_params(nullptr, count), -1);
  EXPECT_EQ(get_params(nullptr, count), -1);
  EXPECT_TRUE(same_bits(all_params(), before));
  EXPECT_EQ(other, std::vector<double>(count + 1, 9.0));
}

TEST_F(Weights, NonFiniteWeightsAreTakenAsValues) {
  ASSERT_TRUE(build(1, {1}, {9}, 1));
  const double inf = INFINITY;
  const std::vector<double> weights = {1.0, inf, 1.0, 0.0};
  ASSERT_EQ(set_params(weights.data(), 4), 4);
  EXPECT_EQ(prediction({1}, 1), std::vector<double>{inf});
  EXPECT_TRUE(same_bits(all_params(), weights));
}

}  // namespace
}  // namespace oscnet
