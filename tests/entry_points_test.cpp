// Building, training and predicting as the exported functions do, with the network state in view.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/backward.h"
#include "network/memory_estimate.h"
#include "nodes/activations.h"
#include "nodes/f_norm.h"
#include "nodes/lee_osc.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The network 3 -> 8 (rectifier) -> 4 (logistic) -> 2 on one example.
struct Description {
  int layers = 2, inputs = 3, outputs = 2;
  int units[2] = {8, 4};
  int codes[2] = {0, 1};
  double x[3] = {0.5, -0.25, 1.0};
  double y[2] = {1.0, -1.0};
  bool build() { return build_network(&layers, &inputs, &outputs, x, y, units, codes); }
};

std::vector<MatrixXd> parameter_values() {
  std::vector<MatrixXd> values;
  for (const Nodes* P : parameters) values.push_back(P->value);
  return values;
}

void set_parameter_values(const std::vector<MatrixXd>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) parameters[i]->value = values[i];
}

std::vector<double> prediction(std::vector<double> input, int outputs) {
  std::vector<double> output(outputs, -7.0);
  predict(static_cast<int>(input.size()), outputs, input.data(), output.data());
  return output;
}

bool all_nan(const std::vector<double>& values) {
  for (double v : values)
    if (!std::isnan(v)) return false;
  return true;
}

class EntryPoints : public ::testing::Test {
 protected:
  void TearDown() override { release_network(); }
  Description net;
  double rate = 0.05;
  int gradient_descent = 0, adagrad = 1;
};

TEST_F(EntryPoints, BuildsTheLayersWithTheirActivationsAndCollectsTheParameters) {
  ASSERT_TRUE(net.build());
  ASSERT_NE(dynamic_cast<F_Norm*>(loss_node), nullptr);
  EXPECT_EQ(loss_node->left->left, output_node);
  EXPECT_EQ(loss_node->left->right, target_node);
  Nodes* second_activation = output_node->left->left;
  EXPECT_NE(dynamic_cast<Sigmoid*>(second_activation), nullptr);
  Nodes* first_activation = second_activation->left->left->left;
  EXPECT_NE(dynamic_cast<ReLu*>(first_activation), nullptr);
  EXPECT_EQ(first_activation->left->left->left, input_node);
  EXPECT_EQ(input_node->value, (MatrixXd(1, 3) << 0.5, -0.25, 1.0).finished());
  EXPECT_EQ(target_node->value, (MatrixXd(1, 2) << 1.0, -1.0).finished());
  EXPECT_EQ(loss_node->value.size(), 0);  // nothing evaluated beyond the layers
  std::vector<Nodes*> reachable;
  collect_params(loss_node, reachable);
  EXPECT_EQ(parameters, reachable);

  // The other two codes: tanh(6x) and the oscillator.
  net.codes[0] = 2;
  net.codes[1] = 3;
  ASSERT_TRUE(net.build());
  EXPECT_NE(dynamic_cast<Lee_Osc*>(output_node->left->left), nullptr);
  EXPECT_NE(dynamic_cast<Tanh*>(output_node->left->left->left->left->left), nullptr);
}

TEST_F(EntryPoints, LayerCountBelowOneStillBuildsOneHiddenLayer) {
  for (int count : {0, -5}) {
    net.layers = count;
    net.units[1] = -1;  // never read
    ASSERT_TRUE(net.build());
    ASSERT_EQ(parameters.size(), 4u);
    EXPECT_EQ(parameters[0]->value.cols(), 8);
    EXPECT_NE(dynamic_cast<ReLu*>(output_node->left->left), nullptr);
  }
}

TEST_F(EntryPoints, CodesOutsideZeroToThreeMeanNoActivation) {
  for (int code : {4, -1, 1000}) {
    net.codes[0] = code;
    ASSERT_TRUE(net.build());
    Nodes* first_sum = output_node->left->left->left->left->left;
    EXPECT_NE(dynamic_cast<Add*>(first_sum), nullptr) << code;
    EXPECT_EQ(first_sum->left->left, input_node) << code;
  }
}

TEST_F(EntryPoints, InvalidDescriptionsAreRefusedAndTheNetworkKept) {
  ASSERT_TRUE(net.build());
  Nodes* const built_loss = loss_node;
  const std::vector<Nodes*> built_parameters = parameters;
  const std::vector<double> before = prediction({0.1, 0.2, 0.3}, 2);

  Description bad;
  EXPECT_FALSE(
      build_network(nullptr, &bad.inputs, &bad.outputs, bad.x, bad.y, bad.units, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, nullptr, &bad.outputs, bad.x, bad.y, bad.units, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, &bad.inputs, nullptr, bad.x, bad.y, bad.units, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, &bad.inputs, &bad.outputs, nullptr, bad.y, bad.units, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, &bad.inputs, &bad.outputs, bad.x, nullptr, bad.units, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, &bad.inputs, &bad.outputs, bad.x, bad.y, nullptr, bad.codes));
  EXPECT_FALSE(
      build_network(&bad.layers, &bad.inputs, &bad.outputs, bad.x, bad.y, bad.units, nullptr));
  for (int wrong : {0, -3}) {
    for (int Description::*width : {&Description::inputs, &Description::outputs}) {
      Description d;
      d.*width = wrong;
      EXPECT_FALSE(d.build()) << wrong;
    }
    for (int layer : {0, 1}) {
      Description d;
      d.units[layer] = wrong;
      EXPECT_FALSE(d.build()) << "layer " << layer << ": " << wrong;
    }
  }
  EXPECT_EQ(loss_node, built_loss);
  EXPECT_EQ(parameters, built_parameters);
  EXPECT_EQ(prediction({0.1, 0.2, 0.3}, 2), before);
}

TEST_F(EntryPoints, NetworksBeyondTheMachinesMemoryAreRefusedAtOnce) {
  ASSERT_TRUE(net.build());
  Nodes* const built_loss = loss_node;
  const auto start = std::chrono::steady_clock::now();
  Description huge;
  huge.units[0] = INT_MAX;
  EXPECT_FALSE(huge.build());
  huge.units[0] = 8;
  huge.layers = 1;
  huge.inputs = INT_MAX;  // the example row alone would take 16 GiB, the weights far more
  EXPECT_FALSE(huge.build());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(1)) << "something was allocated or drawn";
  EXPECT_EQ(loss_node, built_loss);

  // Sizes whose products overflow 64 bits saturate instead of wrapping to something small.
  const int units[3] = {INT_MAX, INT_MAX, INT_MAX};
  EXPECT_EQ(estimate_network_bytes(INT_MAX, INT_MAX, units, 3), UINT64_MAX);
  const int wide[1] = {1 << 29};  // 2^59 weights: their 2^61 doubles overflow only as bytes
  EXPECT_EQ(estimate_network_bytes(1 << 30, 1, wide, 1), UINT64_MAX);
  EXPECT_FALSE(fits_in_memory(UINT64_MAX));
  EXPECT_TRUE(fits_in_memory(estimate_network_bytes(784, 10, units, 0) / UINT64_MAX));
  const int mnist[2] = {256, 128};
  const std::uint64_t mnist_bytes = estimate_network_bytes(784, 10, mnist, 2);
  // Weights 784x256 + 256x128 + 128x10, four copies of each, and a megabyte of fixed costs.
  EXPECT_GT(mnist_bytes, 4u * 8u * (784u * 256u + 256u * 128u + 128u * 10u));
  EXPECT_LT(mnist_bytes, 16u << 20);
  // Each layer's weights are sized by the layer below, the output layer's too.
  const int growing[2] = {512, 1024};
  EXPECT_GE(estimate_network_bytes(1, 1024, growing, 2),
            4u * 8u * (512u + 512u * 1024u + 1024u * 1024u));
  EXPECT_TRUE(fits_in_memory(mnist_bytes));
}

TEST_F(EntryPoints, AnAddressSpaceLimitLowersTheBudget) {
  // In a child process, so that the limit binds nothing else.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit one_gib{1ull << 30, 1ull << 30};
    bool ok = setrlimit(RLIMIT_AS, &one_gib) == 0 && memory_limit_bytes() == (1ull << 30);
    // About 1.6 GiB of weights and their copies: refused before anything is allocated.
    Description big;
    big.inputs = 50000;
    big.units[0] = 1000;
    big.layers = 1;
    ok = ok && !big.build() && loss_node == nullptr;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(EntryPoints, ADataSegmentLimitLowersTheBudget) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{700ull << 20, 700ull << 20};
    bool ok = setrlimit(RLIMIT_DATA, &limit) == 0;
    const MemoryLimit seen = memory_limit();
    ok = ok && seen.bytes == (700ull << 20) &&
         std::string(seen.source).find("RLIMIT_DATA") != std::string::npos;
    // About 1.1 GiB of weights and their copies.
    Description big;
    big.inputs = 6000;
    big.units[0] = 6000;
    big.layers = 1;
    ok = ok && !big.build() && loss_node == nullptr;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(EntryPoints, ASecondBuildReplacesTheFirstNetwork) {
  ASSERT_TRUE(net.build());
  Description other;
  other.layers = 1;
  other.outputs = 1;
  ASSERT_TRUE(other.build());
  ASSERT_EQ(parameters.size(), 4u);
  std::vector<Nodes*> reachable;
  collect_params(loss_node, reachable);
  EXPECT_EQ(parameters, reachable);
  EXPECT_EQ(output_node->value.cols(), 1);
}

TEST_F(EntryPoints, WithoutANetworkPredictGivesNotANumberAndTrainToo) {
  EXPECT_TRUE(all_nan(prediction({0.1, 0.2}, 3)));
  double y[1] = {0.0};
  EXPECT_TRUE(std::isnan(train_network(2, 1, net.x, y, 5, &rate, &gradient_descent)));
  ASSERT_TRUE(net.build());
  release_network();
  EXPECT_TRUE(all_nan(prediction({0.1, 0.2, 0.3}, 2)));
  EXPECT_TRUE(std::isnan(train_network(3, 2, net.x, net.y, 5, &rate, &gradient_descent)));
}

TEST_F(EntryPoints, PredictReplacesOnlyTheGivenInputsAndLeavesTheLossAlone) {
  ASSERT_TRUE(net.build());
  const double loss = train_network(3, 2, net.x, net.y, 3, &rate, &gradient_descent);
  const std::vector<double> partial = prediction({0.9}, 2);
  EXPECT_EQ(partial, prediction({0.9, -0.25, 1.0}, 2));
  EXPECT_NE(partial, prediction({0.5, -0.25, 1.0}, 2));
  EXPECT_EQ(loss_node->value(0, 0), loss);
  EXPECT_EQ(target_node->value, (MatrixXd(1, 2) << 1.0, -1.0).finished());

  // Fewer outputs are copied as asked, none at all with size 0, though the network is evaluated.
  std::vector<double> one = prediction({0.1, 0.2, 0.3}, 1);
  EXPECT_EQ(one.size(), 1u);
  double input[3] = {0.7, 0.7, 0.7}, untouched = -7.0;
  predict(3, 0, input, &untouched);
  EXPECT_EQ(untouched, -7.0);
  EXPECT_EQ(output_node->value(0, 0), prediction({0.7, 0.7, 0.7}, 1)[0]);
}

TEST_F(EntryPoints, PredictWithUnusableSizesEvaluatesNothing) {
  ASSERT_TRUE(net.build());
  const MatrixXd output = output_node->value;
  EXPECT_TRUE(all_nan(prediction({0.1, 0.2, 0.3, 0.4}, 2)));  // more inputs than built
  EXPECT_TRUE(all_nan(prediction({0.1, 0.2, 0.3}, 3)));       // more outputs than built
  double out[2] = {-7.0, -7.0};
  predict(-1, 2, net.x, out);
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
  out[0] = out[1] = -7.0;
  predict(3, -2, net.x, out);
  predict(3, 2, nullptr, out);
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
  predict(3, 2, net.x, nullptr);
  EXPECT_EQ(output_node->value, output);
  EXPECT_EQ(input_node->value, (MatrixXd(1, 3) << 0.5, -0.25, 1.0).finished());
}

TEST_F(EntryPoints, TrainWithUnusableArgumentsChangesNothing) {
  ASSERT_TRUE(net.build());
  const std::vector<MatrixXd> values = parameter_values();
  double x[4] = {9, 9, 9, 9}, y[3] = {9, 9, 9};
  EXPECT_TRUE(std::isnan(train_network(4, 2, x, y, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, 3, x, y, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(-1, 2, x, y, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, -1, x, y, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, 2, nullptr, y, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, 2, x, nullptr, 5, &rate, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, 2, x, y, 5, nullptr, &gradient_descent)));
  EXPECT_TRUE(std::isnan(train_network(3, 2, x, y, 5, &rate, nullptr)));
  EXPECT_EQ(parameter_values(), values);
  EXPECT_EQ(input_node->value, (MatrixXd(1, 3) << 0.5, -0.25, 1.0).finished());
  EXPECT_EQ(target_node->value, (MatrixXd(1, 2) << 1.0, -1.0).finished());
  EXPECT_EQ(loss_node->value.size(), 0);
}

TEST_F(EntryPoints, NoIterationsWriteTheExampleAndReturnTheHeldLoss) {
  ASSERT_TRUE(net.build());
  double x[3] = {-1, -1, -1}, y[2] = {0.25, 0.5};
  // Never evaluated: there is no loss to return yet.
  EXPECT_TRUE(std::isnan(train_network(3, 2, x, y, 0, &rate, &gradient_descent)));
  EXPECT_EQ(target_node->value, (MatrixXd(1, 2) << 0.25, 0.5).finished());

  const double loss = train_network(3, 2, net.x, net.y, 4, &rate, &gradient_descent);
  const std::vector<MatrixXd> values = parameter_values();
  EXPECT_EQ(train_network(3, 2, x, y, 0, &rate, &adagrad), loss);
  EXPECT_EQ(train_network(3, 2, x, y, -3, &rate, &gradient_descent), loss);
  EXPECT_EQ(parameter_values(), values);
  EXPECT_EQ(input_node->value, (MatrixXd(1, 3) << -1, -1, -1).finished());
}

TEST_F(EntryPoints, OneIterationReturnsTheLossBeforeItsStep) {
  ASSERT_TRUE(net.build());
  const std::vector<double> out = prediction({0.5, -0.25, 1.0}, 2);
  const double expected = std::pow(out[0] - 1.0, 2.0) + std::pow(out[1] + 1.0, 2.0);
  EXPECT_EQ(train_network(3, 2, net.x, net.y, 1, &rate, &gradient_descent), expected);
  const std::vector<double> stepped = prediction({0.5, -0.25, 1.0}, 2);
  EXPECT_EQ(train_network(3, 2, net.x, net.y, 1, &rate, &gradient_descent),
            std::pow(stepped[0] - 1.0, 2.0) + std::pow(stepped[1] + 1.0, 2.0));
  EXPECT_NE(stepped, out);
}

TEST_F(EntryPoints, OnlyCodeOneSelectsAdagrad) {
  ASSERT_TRUE(net.build());
  for (int code : {0, 2, -1, 1}) {
    const std::vector<MatrixXd> before = parameter_values();
    train_network(3, 2, net.x, net.y, 1, &rate, &code);
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      const MatrixXd& g = parameters[i]->grad;
      const MatrixXd expected =
          code == 1 ? MatrixXd(before[i].array() -
                               rate * (g.array() / (g.array().square() + 1e-10).sqrt()))
                    : MatrixXd(before[i] - rate * g);
      EXPECT_EQ(parameters[i]->value, expected) << "code " << code << ", parameter " << i;
    }
  }
}

TEST_F(EntryPoints, AdagradStartsAfreshOnEveryCall) {
  ASSERT_TRUE(net.build());
  const std::vector<MatrixXd> start = parameter_values();
  auto train_in_calls = [&](std::vector<int> calls) {
    set_parameter_values(start);
    for (int iterations : calls) train_network(3, 2, net.x, net.y, iterations, &rate, &adagrad);
    return parameter_values();
  };
  const std::vector<MatrixXd> twice_ten = train_in_calls({10, 10});
  EXPECT_NE(twice_ten, train_in_calls({20}));
  EXPECT_EQ(twice_ten, train_in_calls({10, 10}));

  // Gradient descent keeps no state, so the split makes no difference.
  auto descend_in_calls = [&](std::vector<int> calls) {
    set_parameter_values(start);
    for (int iterations : calls)
      train_network(3, 2, net.x, net.y, iterations, &rate, &gradient_descent);
    return parameter_values();
  };
  EXPECT_EQ(descend_in_calls({10, 10}), descend_in_calls({20}));
}

TEST_F(EntryPoints, TrainingLowersTheLossWithEitherRule) {
  for (int* code : {&gradient_descent, &adagrad}) {
    ASSERT_TRUE(net.build());
    const double first = train_network(3, 2, net.x, net.y, 1, &rate, code);
    const double later = train_network(3, 2, net.x, net.y, 200, &rate, code);
    EXPECT_LT(later, first / 10) << "optimizer code " << *code;
  }
}

// Runs `body` on a thread with a stack of `bytes`.
template <typename Body>
void on_small_stack(std::size_t bytes, Body body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, bytes);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<Body*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST_F(EntryPoints, DeepNetworksNeedMemoryNotStack) {
  // 50000 layers make a tree 150000 nodes deep: recursing through it would take megabytes of
  // stack, and the thread has 512 KiB.
  const int layers = 50000, inputs = 2, outputs = 1;
  const std::vector<int> units(layers, 1), codes(layers, 0);
  on_small_stack(512 << 10, [&] {
    ASSERT_TRUE(
        build_network(&layers, &inputs, &outputs, net.x, net.y, units.data(), codes.data()));
    EXPECT_EQ(parameters.size(), 2u * (layers + 1));
    EXPECT_FALSE(std::isnan(train_network(2, 1, net.x, net.y, 2, &rate, &gradient_descent)));
    EXPECT_FALSE(all_nan(prediction({0.5, 0.5}, 1)));
    release_network();
  });
}

TEST_F(EntryPoints, NonFiniteInputsAreValuesNotErrors) {
  for (int code : {0, 1, 2, 3, 4}) {
    net.codes[0] = net.codes[1] = code;
    ASSERT_TRUE(net.build());
    EXPECT_TRUE(all_nan(prediction({kNaN, 0.0, 0.0}, 2))) << code;
    for (double extreme : {kInf, -kInf}) {
      prediction({extreme, 0.0, 0.0}, 2);
      double x[3] = {extreme, 1.0, -1.0};
      train_network(3, 2, x, net.y, 2, &rate, &gradient_descent);
    }
    // Training on a not-a-number target reports it in the loss.
    double y[2] = {kNaN, 0.0};
    EXPECT_TRUE(std::isnan(train_network(3, 2, net.x, y, 1, &rate, &adagrad))) << code;
  }
}

}  // namespace
}  // namespace oscnet
