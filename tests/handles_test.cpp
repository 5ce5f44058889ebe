// Networks behind handles: seeded, independent of each other and of the default network.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/entry_points.h"
#include "api/handles.h"
#include "api/last_error.h"
#include "api/network_state.h"
#include "network/builders.h"

namespace oscnet {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A handle freed at the end of the scope.
struct Handle {
  Handle(int inputs, std::vector<int> units, std::vector<int> codes, int outputs, unsigned seed)
      : net(create_network(inputs, outputs, static_cast<int>(units.size()), units.data(),
                           codes.data(), seed)) {}
  ~Handle() { destroy_network(net); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  oscnet_network* net;
};

std::vector<double> weights_of(const oscnet_network* net) {
  std::vector<double> values(handle_weights_count(net));
  EXPECT_EQ(get_handle_weights(net, values.data(), static_cast<int>(values.size())),
            static_cast<int>(values.size()));
  return values;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Rows of `width` values spread over [-1.5, 1.5], so that oscillator units see values inside
// and outside [-1, 1].
std::vector<double> rows_of(int rows, int width, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> spread(-1.5, 1.5);
  std::vector<double> values(static_cast<std::size_t>(rows) * width);
  for (double& v : values) v = spread(engine);
  return values;
}

std::vector<double> predicted(oscnet_network* net, const std::vector<double>& input) {
  std::vector<double> output(network_output_size(net));
  EXPECT_EQ(predict_handle(net, input.data(), output.data()), OSCNET_OK);
  return output;
}

// Losses and predictions of a fixed sequence of calls on `net`.
std::vector<double> workload(oscnet_network* net, int calls) {
  const int in = network_input_size(net), out = network_output_size(net);
  const std::vector<double> x = rows_of(calls, in, 11), y = rows_of(calls, out, 12);
  std::vector<double> seen;
  for (int c = 0; c < calls; ++c) {
    seen.push_back(train_handle(net, &x[c * in], &y[c * out], 3, 0.05, c % 2));
    for (double v : predicted(net, {x.begin() + c * in, x.begin() + (c + 1) * in})) {
      seen.push_back(v);
    }
  }
  return seen;
}

TEST(Handles, WorkedExampleThroughWeightsTrainingAndPrediction) {
  // 2 inputs, 2 rectifier units, 1 output, on weights whose sums are exact in any order.
  Handle h(2, {2}, {0}, 1, 7);
  ASSERT_NE(h.net, nullptr);
  EXPECT_EQ(network_input_size(h.net), 2);
  EXPECT_EQ(network_output_size(h.net), 1);
  ASSERT_EQ(handle_weights_count(h.net), 9);
  const std::vector<double> start = {1.0, 0.5, -2.0, 1.0, 0.25, 0.5, 2.0, 3.0, -0.5};
  ASSERT_EQ(set_handle_weights(h.net, start.data(), 9), 9);
  EXPECT_TRUE(same_bits(weights_of(h.net), start));

  const double x[2] = {0.5, -0.25}, target[1] = {0.25};
  // Hidden (0.625, -0.75) rectified to (0.625, 0); output 0.625 * 2 - 0.5.
  EXPECT_EQ(predicted(h.net, {0.5, -0.25})[0], 0.75);
  EXPECT_EQ(train_handle(h.net, x, target, 1, 0.125, OSCNET_GRADIENT_DESCENT), 0.25);
  // Output slope 2 * 0.5 = 1: the output weights lose 0.125 * (0.625, 0), the output bias
  // 0.125; the first unit's weights 0.125 * 2 * (0.5, -0.25), its bias 0.125 * 2.
  const std::vector<double> after = {0.875, 0.5625, -2.0, 1.0, 0.0, 0.5, 1.921875, 3.0, -0.625};
  EXPECT_TRUE(same_bits(weights_of(h.net), after));
}

TEST(Handles, WeightsAreTheSeedsNormalDrawsColumnByColumn) {
  Handle h(3, {4}, {1}, 2, 2024);
  std::mt19937 engine(2024);
  std::normal_distribution<double> dist(0.0, 0.01);
  for (double w : weights_of(h.net)) ASSERT_EQ(w, dist(engine));
}

TEST(Handles, ASeedGivesTheWeightsOfADefaultNetworkWhoseStreamStartsThere) {
  const int layers = 2, inputs = 5, outputs = 3, units[2] = {6, 4}, codes[2] = {3, 2};
  const double x[5] = {0}, y[3] = {0};
  seed_process_weight_stream(99);
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  std::vector<double> from_default(param_count());
  get_params(from_default.data(), param_count());
  release_network();
  Handle h(5, {6, 4}, {3, 2}, 3, 99);
  EXPECT_TRUE(same_bits(weights_of(h.net), from_default));
}

TEST(Handles, ASeedRepeatsBitForBitAndAnotherSeedDiffers) {
  for (int code : {0, 1, 2, 3, 9}) {
    Handle a(4, {6, 5}, {code, 3}, 2, 5), b(4, {6, 5}, {code, 3}, 2, 5),
        c(4, {6, 5}, {code, 3}, 2, 6);
    EXPECT_TRUE(same_bits(weights_of(a.net), weights_of(b.net)));
    EXPECT_FALSE(same_bits(weights_of(a.net), weights_of(c.net)));
    std::srand(1);  // the C library's generator plays no part
    const std::vector<double> first = workload(a.net, 6);
    std::srand(2);
    EXPECT_TRUE(same_bits(first, workload(b.net, 6))) << "code " << code;
    EXPECT_TRUE(same_bits(weights_of(a.net), weights_of(b.net))) << "code " << code;
    EXPECT_FALSE(same_bits(first, workload(c.net, 6))) << "code " << code;
  }
}

TEST(Handles, OscillatorUnitsLeaveTheCLibrarysGeneratorAlone) {
  Handle h(3, {8}, {3}, 1, 1);
  std::srand(77);
  const int expected = std::rand();
  std::srand(77);
  workload(h.net, 4);
  EXPECT_EQ(std::rand(), expected);
}

TEST(Handles, InterleavedNetworksGiveWhatEachGivesAlone) {
  Handle a(3, {8, 4}, {3, 1}, 2, 1), b(3, {8, 4}, {3, 1}, 2, 2);
  Handle a_alone(3, {8, 4}, {3, 1}, 2, 1), b_alone(3, {8, 4}, {3, 1}, 2, 2);
  const std::vector<double> a_expected = workload(a_alone.net, 8);
  const std::vector<double> b_expected = workload(b_alone.net, 8);
  std::vector<double> a_seen, b_seen;
  const std::vector<double> x = rows_of(8, 3, 11), y = rows_of(8, 2, 12);
  for (int c = 0; c < 8; ++c) {
    for (auto [net, seen] : {std::pair{a.net, &a_seen}, std::pair{b.net, &b_seen}}) {
      seen->push_back(train_handle(net, &x[c * 3], &y[c * 2], 3, 0.05, c % 2));
      for (double v : predicted(net, {x.begin() + c * 3, x.begin() + (c + 1) * 3})) {
        seen->push_back(v);
      }
    }
  }
  EXPECT_TRUE(same_bits(a_seen, a_expected));
  EXPECT_TRUE(same_bits(b_seen, b_expected));
}

TEST(Handles, AdagradsSumsPersistUntilReset) {
  const double x[3] = {0.3, -0.6, 0.9}, y[2] = {0.4, -0.2};
  Handle twice(3, {8}, {2}, 2, 3), once(3, {8}, {2}, 2, 3);
  train_handle(twice.net, x, y, 5, 0.05, OSCNET_ADAGRAD);
  const double second = train_handle(twice.net, x, y, 5, 0.05, OSCNET_ADAGRAD);
  EXPECT_EQ(second, train_handle(once.net, x, y, 10, 0.05, OSCNET_ADAGRAD));
  EXPECT_TRUE(same_bits(weights_of(twice.net), weights_of(once.net)));

  // After a reset a call moves the weights as a new network's first call would from them.
  Handle fresh(3, {8}, {2}, 2, 4);
  const std::vector<double> now = weights_of(twice.net);
  set_handle_weights(fresh.net, now.data(), static_cast<int>(now.size()));
  ASSERT_EQ(reset_handle_optimizer(twice.net), OSCNET_OK);
  EXPECT_EQ(train_handle(twice.net, x, y, 4, 0.05, OSCNET_ADAGRAD),
            train_handle(fresh.net, x, y, 4, 0.05, OSCNET_ADAGRAD));
  EXPECT_TRUE(same_bits(weights_of(twice.net), weights_of(fresh.net)));

  // Without the reset the sums differ, and so do the steps.
  train_handle(once.net, x, y, 4, 0.05, OSCNET_ADAGRAD);
  set_handle_weights(fresh.net, now.data(), static_cast<int>(now.size()));
  ASSERT_EQ(reset_handle_optimizer(fresh.net), OSCNET_OK);
  train_handle(fresh.net, x, y, 4, 0.05, OSCNET_ADAGRAD);
  EXPECT_FALSE(same_bits(weights_of(once.net), weights_of(fresh.net)));
}

// A call of k steps moves the weights through other code than k calls of one step do (only the
// last step of a call ever differs), on narrow layers and wide ones, with every activation.
TEST(Handles, OneCallOfSeveralStepsEndsAsOneStepPerCall) {
  for (const int width : {3, 40}) {
    for (const int optimizer : {OSCNET_GRADIENT_DESCENT, OSCNET_ADAGRAD}) {
      const std::vector<int> units{width, width + 1, width, width + 2}, codes{0, 1, 2, 3};
      Handle at_once(width, units, codes, 2, 5), stepwise(width, units, codes, 2, 5);
      const std::vector<double> x = rows_of(1, width, 13), y = rows_of(1, 2, 14);
      const double loss = train_handle(at_once.net, x.data(), y.data(), 6, 0.05, optimizer);
      double last = kNaN;
      for (int step = 0; step < 6; ++step) {
        last = train_handle(stepwise.net, x.data(), y.data(), 1, 0.05, optimizer);
      }
      EXPECT_EQ(loss, last) << "width " << width << ", optimizer " << optimizer;
      EXPECT_TRUE(same_bits(weights_of(at_once.net), weights_of(stepwise.net)))
          << "width " << width << ", optimizer " << optimizer;
    }
  }
}

// Every activation, products below and above the size where Dot switches to Eigen's kernel, and
// counts below, at and beyond one block of rows.
TEST(Handles, RowsAtOnceEqualRowsOneByOne) {
  struct Shape {
    int inputs;
    std::vector<int> units;
    int outputs;
  };
  for (const Shape& shape : {Shape{3, {4}, 2}, Shape{20, {33}, 5}, Shape{9, {70, 12}, 1}}) {
    for (int code : {0, 1, 2, 3, 9}) {
      std::vector<int> codes(shape.units.size(), code);
      codes.back() = 3;  // an oscillator layer after the first, to check the order of draws
      for (int rows : {1, 7, 256, 300, 600}) {
        Handle batch(shape.inputs, shape.units, codes, shape.outputs, 21);
        Handle single(shape.inputs, shape.units, codes, shape.outputs, 21);
        const std::vector<double> x = rows_of(rows, shape.inputs, rows);
        std::vector<double> together(static_cast<std::size_t>(rows) * shape.outputs);
        std::vector<double> one_by_one;
        ASSERT_EQ(predict_handle_rows(batch.net, x.data(), rows, together.data()), OSCNET_OK);
        for (int r = 0; r < rows; ++r) {
          const std::vector<double> row(x.begin() + r * shape.inputs,
                                        x.begin() + (r + 1) * shape.inputs);
          for (double v : predicted(single.net, row)) one_by_one.push_back(v);
        }
        ASSERT_TRUE(same_bits(together, one_by_one))
            << "code " << code << ", " << rows << " rows, " << shape.inputs << " inputs";
        // The single-row path carries on exactly as in the network that never took a block.
        EXPECT_TRUE(same_bits(workload(batch.net, 3), workload(single.net, 3)));
      }
    }
  }
}

TEST(Handles, NoRowsIsNothingToDo) {
  Handle h(2, {3}, {0}, 1, 1);
  EXPECT_EQ(predict_handle_rows(h.net, nullptr, 0, nullptr), OSCNET_OK);
}

// The documented value and a message naming the function and what was wrong.
template <typename Result>
void expect_refused(Result result, Result documented, const std::string& words) {
  if constexpr (std::is_same_v<Result, double>) {
    EXPECT_TRUE(std::isnan(result) && std::isnan(documented)) << words;
  } else {
    EXPECT_EQ(result, documented) << words;
  }
  EXPECT_NE(std::string(last_error()).find(words), std::string::npos)
      << "message: " << last_error() << ", expected: " << words;
}

TEST(Handles, HostileArgumentsAreRefusedWithAMessage) {
  const int units[2] = {3, 0}, codes[2] = {0, 0};
  const auto null_net = static_cast<oscnet_network*>(nullptr);
  expect_refused(create_network(0, 1, 1, units, codes, 0), null_net, "oscnet_create: input_size");
  expect_refused(create_network(2, -1, 1, units, codes, 0), null_net, "output_size");
  expect_refused(create_network(2, 1, 0, units, codes, 0), null_net, "layer_count must be");
  expect_refused(create_network(2, 1, 1, nullptr, codes, 0), null_net, "layer_units is NULL");
  expect_refused(create_network(2, 1, 1, units, nullptr, 0), null_net, "activation_codes is");
  expect_refused(create_network(2, 1, 2, units, codes, 0), null_net, "layer_units[1] must be");
  const int huge[1] = {INT_MAX};
  expect_refused(create_network(INT_MAX, INT_MAX, 1, huge, codes, 0), null_net, "memory");

  double row[4] = {0.1, 0.2, 0.3, 0.4}, out[4] = {1, 1, 1, 1};
  expect_refused(network_input_size(nullptr), -1, "oscnet_input_size: net is NULL");
  expect_refused(network_output_size(nullptr), -1, "oscnet_output_size: net is NULL");
  expect_refused(train_handle(nullptr, row, row, 1, 0.1, 0), kNaN, "oscnet_train: net is NULL");
  expect_refused(reset_handle_optimizer(nullptr), OSCNET_ERROR_ARGUMENT, "oscnet_reset_optimizer");
  expect_refused(predict_handle(nullptr, row, out), OSCNET_ERROR_ARGUMENT, "oscnet_predict: net");
  EXPECT_EQ(out[0], 1.0);  // the width of no network is unknown: nothing written
  expect_refused(predict_handle_rows(nullptr, row, 1, out), OSCNET_ERROR_ARGUMENT, "net is NULL");
  expect_refused(handle_weights_count(nullptr), -1, "oscnet_weights_count: net is NULL");
  expect_refused(get_handle_weights(nullptr, out, 1), -1, "oscnet_get_weights: net is NULL");
  expect_refused(set_handle_weights(nullptr, row, 1), -1, "oscnet_set_weights: net is NULL");
  destroy_network(nullptr);

  Handle h(2, {3}, {0}, 2, 1);
  const std::vector<double> weights = weights_of(h.net);
  const double first = predicted(h.net, {0.1, 0.2})[0];
  expect_refused(train_handle(h.net, nullptr, row, 1, 0.1, 0), kNaN, "input_row is NULL");
  expect_refused(train_handle(h.net, row, nullptr, 1, 0.1, 0), kNaN, "target_row is NULL");
  expect_refused(train_handle(h.net, row, row, 0, 0.1, 0), kNaN,
                 "oscnet_train: iterations must be at least 1, got 0");
  expect_refused(train_handle(h.net, row, row, INT_MIN, 0.1, 0), kNaN, "got -2147483648");
  expect_refused(train_handle(h.net, row, row, 1, 0.1, 2), kNaN, "optimizer_code must be");
  expect_refused(train_handle(h.net, row, row, 1, 0.1, -1), kNaN, "got -1");
  expect_refused(predict_handle(h.net, nullptr, out), OSCNET_ERROR_ARGUMENT, "input_row is NULL");
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
  EXPECT_EQ(out[2], 1.0);
  expect_refused(predict_handle(h.net, row, nullptr), OSCNET_ERROR_ARGUMENT, "output_row is NULL");
  out[0] = out[1] = 1.0;
  expect_refused(predict_handle_rows(h.net, row, -1, out), OSCNET_ERROR_ARGUMENT,
                 "row_count must be at least 0, got -1");
  EXPECT_EQ(out[0], 1.0);
  expect_refused(predict_handle_rows(h.net, nullptr, 2, out), OSCNET_ERROR_ARGUMENT,
                 "input_rows is NULL");
  EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[3]));
  expect_refused(predict_handle_rows(h.net, row, 2, nullptr), OSCNET_ERROR_ARGUMENT,
                 "output_rows is NULL");
  if (sizeof(void*) == 4) {
    expect_refused(predict_handle_rows(h.net, row, INT_MAX, nullptr), OSCNET_ERROR_ARGUMENT,
                   "address space");
  }
  const int count = handle_weights_count(h.net);
  std::vector<double> buffer(count + 1, 0.5);
  expect_refused(get_handle_weights(h.net, nullptr, count), -1, "out is NULL");
  expect_refused(get_handle_weights(h.net, buffer.data(), count + 1), -1,
                 "n must be the weights count");
  expect_refused(set_handle_weights(h.net, nullptr, count), -1, "in is NULL");
  expect_refused(set_handle_weights(h.net, buffer.data(), count - 1), -1, "got");
  expect_refused(set_handle_weights(h.net, buffer.data(), INT_MIN), -1, "got");

  // None of it moved the network.
  EXPECT_TRUE(same_bits(weights_of(h.net), weights));
  EXPECT_EQ(predicted(h.net, {0.1, 0.2})[0], first);
}

TEST(Handles, EverySuccessfulCallClearsTheMessage) {
  Handle h(2, {3}, {2}, 1, 4);
  const double row[2] = {0.3, -0.2}, target[1] = {0.5};
  double out[2] = {0, 0};
  std::vector<double> weights(handle_weights_count(h.net));
  const int n = static_cast<int>(weights.size());
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"create and destroy",
       [] {
         const int units[1] = {2}, codes[1] = {0};
         oscnet_network* net = create_network(1, 1, 1, units, codes, 1);
         ASSERT_NE(net, nullptr);
         EXPECT_STREQ(last_error(), "");
         network_input_size(nullptr);
         destroy_network(net);
       }},
      {"destroy NULL", [] { destroy_network(nullptr); }},
      {"input_size", [&] { EXPECT_EQ(network_input_size(h.net), 2); }},
      {"output_size", [&] { EXPECT_EQ(network_output_size(h.net), 1); }},
      {"train", [&] { EXPECT_FALSE(std::isnan(train_handle(h.net, row, target, 2, 0.1, 1))); }},
      {"reset_optimizer", [&] { EXPECT_EQ(reset_handle_optimizer(h.net), OSCNET_OK); }},
      {"predict", [&] { EXPECT_EQ(predict_handle(h.net, row, out), OSCNET_OK); }},
      {"predict_rows", [&] { EXPECT_EQ(predict_handle_rows(h.net, row, 1, out), OSCNET_OK); }},
      {"weights_count", [&] { EXPECT_EQ(handle_weights_count(h.net), n); }},
      {"get_weights", [&] { EXPECT_EQ(get_handle_weights(h.net, weights.data(), n), n); }},
      {"set_weights", [&] { EXPECT_EQ(set_handle_weights(h.net, weights.data(), n), n); }},
  };
  for (const auto& [name, call] : calls) {
    ASSERT_EQ(network_input_size(nullptr), -1);
    ASSERT_STRNE(last_error(), "");
    call();
    EXPECT_STREQ(last_error(), "") << name;
  }
}

TEST(Handles, ADivergedTrainingLeavesNoMessage) {
  Handle h(1, {4}, {4}, 1, 2);  // linear units: nothing to saturate or switch off
  std::vector<double> weights(handle_weights_count(h.net), 1.0);
  ASSERT_EQ(set_handle_weights(h.net, weights.data(), static_cast<int>(weights.size())),
            static_cast<int>(weights.size()));
  const double x[1] = {1.0}, target[1] = {-1.0};
  ASSERT_EQ(network_input_size(nullptr), -1);
  double loss = 0.0;
  for (int round = 0; round < 50 && !std::isnan(loss); ++round) {
    loss = train_handle(h.net, x, target, 20, 1e3, OSCNET_GRADIENT_DESCENT);
  }
  ASSERT_TRUE(std::isnan(loss));
  EXPECT_STREQ(last_error(), "");
  // A refusal after it still says why.
  EXPECT_TRUE(std::isnan(train_handle(h.net, x, target, 0, 0.1, 0)));
  EXPECT_NE(std::string(last_error()).find("iterations"), std::string::npos);
}

TEST(Handles, MessagesArePerThread) {
  EXPECT_EQ(network_input_size(nullptr), -1);
  std::string other;
  std::thread([&] {
    other = last_error();
    train_handle(nullptr, nullptr, nullptr, 1, 0.1, 0);
  }).join();
  EXPECT_EQ(other, "");
  EXPECT_STREQ(last_error(), "oscnet_input_size: net is NULL");
}

}  // namespace
}  // namespace oscnet
