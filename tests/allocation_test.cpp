// Steady-state evaluation must not touch the heap: every node reuses its matrices while the
// shapes stay the same. Counts calls of malloc, which both operator new and Eigen go through,
// and of operator new on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "nodes/activations.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"
#include "nodes/linear_nodes.h"
#include "oscnet.h"

namespace {
long malloc_calls = 0;
long new_calls = 0;
// Blocks handed out and not yet freed, and the call that is made to fail (0: none).
long live_blocks = 0;
long failing_call = 0;

void* counted(void* block) {
  if (block != nullptr) ++live_blocks;
  return block;
}
}  // namespace

// The compiler may turn an allocation followed by zeroing into calloc, so that is counted too.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);
extern "C" void __libc_free(void* block);
extern "C" void* malloc(std::size_t size) {
  if (++malloc_calls == failing_call) return nullptr;
  return counted(__libc_malloc(size));
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  if (++malloc_calls == failing_call) return nullptr;
  return counted(__libc_calloc(count, size));
}
extern "C" void* realloc(void* block, std::size_t size) {
  if (++malloc_calls == failing_call) return nullptr;
  if (block == nullptr) return counted(__libc_realloc(block, size));
  void* moved = __libc_realloc(block, size);
  if (moved == nullptr && size == 0) --live_blocks;
  return moved;
}
extern "C" void free(void* block) {
  if (block != nullptr) --live_blocks;
  __libc_free(block);
}

void* operator new(std::size_t size) {
  ++new_calls;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}

namespace oscnet {
namespace {

template <typename Step>
long allocations_in(Step step) {
  const long before = malloc_calls;
  step();
  return malloc_calls - before;
}

// A dense layer with every activation and the loss on top, at one batch shape.
struct Layer {
  Layer(int rows, int inputs, int units)
      : x(MatrixXd::Random(rows, inputs)),
        w(MatrixXd::Random(inputs, units)),
        b(MatrixXd::Random(1, units)),
        target(MatrixXd::Random(rows, units)) {}

  void evaluate_and_differentiate() {
    for (Nodes* node : nodes) node->compute();
    for (Nodes* node : nodes) node->backprop();
  }

  Input x;
  Variable w, b;
  Const target;
  Dot product{x, w};
  Add sum{product, b};
  ReLu relu{sum};
  Sigmoid sigmoid{sum};
  Tanh tanh{sum};
  Lee_Osc lee{sum};
  Minus difference{sum, target};
  F_Norm loss{difference};
  Nodes* nodes[8] = {&product, &sum, &relu, &sigmoid, &tanh, &lee, &difference, &loss};
};

TEST(Allocations, NoneWhileShapesStayTheSame) {
  for (const auto& [rows, inputs, units] :
       {std::tuple{1, 3, 8}, std::tuple{1, 784, 256}, std::tuple{4, 64, 128}}) {
    Layer layer(rows, inputs, units);
    layer.evaluate_and_differentiate();  // first pass sizes every matrix
    for (Nodes* node : layer.nodes) {
      EXPECT_EQ(allocations_in([&] { node->compute(); }), 0) << rows << "x" << inputs;
      EXPECT_EQ(allocations_in([&] { node->backprop(); }), 0) << rows << "x" << inputs;
    }
  }
}

TEST(Allocations, CountedWhenAShapeGrows) {
  Layer layer(1, 3, 8);
  layer.evaluate_and_differentiate();
  layer.x.value = MatrixXd::Random(5, 3);
  EXPECT_GT(allocations_in([&] { layer.evaluate_and_differentiate(); }), 0);
}

// Calls of operator new during `step`.
template <typename Step>
long news_in(Step step) {
  const long before = new_calls;
  step();
  return new_calls - before;
}

// A training call allocates its optimizer once; its iterations allocate nothing, so a call of
// many iterations costs exactly as many allocations as a call of one.
TEST(Allocations, NonePerTrainingIterationNorPerPrediction) {
  const int layers = 3, inputs = 10, outputs = 2;
  const int units[3] = {32, 16, 8}, codes[3] = {0, 2, 3};
  double x[10] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}, y[2] = {0.5, -0.5};
  double output[2];
  const double rate = 0.01;
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  for (int code : {0, 1}) {
    train_network(10, 2, x, y, 1, &rate, &code);  // first pass sizes every gradient
    const long one = allocations_in([&] { train_network(10, 2, x, y, 1, &rate, &code); });
    const long many = allocations_in([&] { train_network(10, 2, x, y, 50, &rate, &code); });
    EXPECT_EQ(many, one) << "optimizer code " << code;
    // The parameter list's copy; Adagrad adds its accumulators and their list.
    EXPECT_EQ(one, code == 1 ? 1 + 1 + 8 : 1) << "optimizer code " << code;
    EXPECT_EQ(news_in([&] { train_network(10, 2, x, y, 50, &rate, &code); }),
              news_in([&] { train_network(10, 2, x, y, 1, &rate, &code); }));
  }
  EXPECT_EQ(allocations_in([&] { predict(10, 2, x, output); }), 0);
  EXPECT_EQ(news_in([&] { predict(10, 2, x, output); }), 0);
  release_network();
}

// A build that runs out of memory, at whichever allocation, frees everything it made and keeps
// the network built before.
TEST(Allocations, NoneLeftByABuildThatRunsOutOfMemory) {
  const int layers = 2, inputs = 3, outputs = 2;
  const int units[2] = {8, 4}, codes[2] = {0, 1};
  const double x[3] = {0.1, 0.2, 0.3}, y[2] = {0.5, -0.5};
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
  Nodes* const built = loss_node;
  long k = 1;
  for (;; ++k) {
    const long blocks = live_blocks;
    failing_call = malloc_calls + k;
    const bool replaced = build_network(&layers, &inputs, &outputs, x, y, units, codes);
    failing_call = 0;
    if (replaced) break;
    EXPECT_EQ(live_blocks, blocks) << "allocation " << k << " failed";
    ASSERT_EQ(loss_node, built) << "allocation " << k << " failed";
  }
  EXPECT_GT(k, 20);  // every node and matrix of the build was made to fail once
  release_network();
}

// A training call that runs out of memory, at whichever allocation, returns not-a-number through
// the exported shell and moves no weight, and the next call gives exactly what it would have given
// had nothing failed. The call is the first after a build, which sizes every gradient, so Eigen's
// allocations are reached; Adagrad's accumulators are made on every call. Gradients sized before
// the failure stay with the network, so live blocks are not compared here.
TEST(Allocations, TrainingThatRunsOutOfMemoryMovesNoWeight) {
  const int layers = 2, inputs = 3, outputs = 2;
  const int units[2] = {8, 4}, codes[2] = {3, 1};
  double x[3] = {0.1, -0.2, 0.3}, y[2] = {0.5, -0.5};
  double rate = 0.05;
  auto weights = [] {
    std::vector<double> values(oscnet_param_count());
    oscnet_get_params(values.data(), static_cast<int>(values.size()));
    return values;
  };
  for (int code : {0, 1}) {
    auto run = [&] {
      std::srand(5);  // the oscillator's draws repeat
      return ::train(3, 2, x, y, 2, &rate, &code);
    };
    ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
    const std::vector<double> start = weights();
    const double reference = run();
    const std::vector<double> trained = weights();
    ASSERT_TRUE(std::isfinite(reference));
    long k = 1;
    for (;; ++k) {
      ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x, y, units, codes));
      ASSERT_EQ(oscnet_set_params(start.data(), static_cast<int>(start.size())),
                static_cast<int>(start.size()));
      const long first = malloc_calls;
      failing_call = first + k;
      const double loss = run();
      failing_call = 0;
      if (malloc_calls - first < k) {
        EXPECT_EQ(loss, reference);
        break;
      }
      EXPECT_TRUE(std::isnan(loss)) << "allocation " << k << " failed";
      ASSERT_EQ(weights(), start) << "allocation " << k << " failed";
      EXPECT_EQ(run(), reference) << "allocation " << k << " failed";
      ASSERT_EQ(weights(), trained) << "allocation " << k << " failed";
    }
    EXPECT_GT(k, 20) << "optimizer " << code;  // every gradient of the 22 nodes failed once
  }
  release_network();
}

// A network handle: training and prediction allocate nothing after the first call, whatever the
// optimizer, and a block of as many rows as the first allocates nothing either.
TEST(Allocations, NonePerHandleCallAfterTheFirst) {
  const int units[3] = {32, 16, 8}, codes[3] = {0, 2, 3};
  double x[10] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}, y[2] = {0.5, -0.5};
  std::vector<double> rows(300 * 10, 0.25), outputs(300 * 2);
  oscnet_network* net = oscnet_create(10, 2, 3, units, codes, 1);
  ASSERT_NE(net, nullptr);
  for (int code : {OSCNET_GRADIENT_DESCENT, OSCNET_ADAGRAD}) {
    oscnet_train(net, x, y, 1, 0.01, code);
    EXPECT_EQ(allocations_in([&] { oscnet_train(net, x, y, 1, 0.01, code); }), 0) << code;
    EXPECT_EQ(allocations_in([&] { oscnet_train(net, x, y, 20, 0.01, code); }), 0) << code;
  }
  EXPECT_EQ(allocations_in([&] { oscnet_reset_optimizer(net); }), 0);
  EXPECT_EQ(allocations_in([&] { oscnet_predict(net, x, outputs.data()); }), 0);
  oscnet_predict_rows(net, rows.data(), 300, outputs.data());
  EXPECT_EQ(allocations_in([&] { oscnet_predict_rows(net, rows.data(), 300, outputs.data()); }), 0);
  oscnet_destroy(net);
}

// Creating a network that runs out of memory, at whichever allocation, returns NULL with a
// message and leaves nothing allocated.
TEST(Allocations, NoneLeftByACreationThatRunsOutOfMemory) {
  const int units[2] = {8, 4}, codes[2] = {3, 1};
  // The oscillator table is made once per process, by the first network that needs it.
  oscnet_destroy(oscnet_create(3, 2, 2, units, codes, 4));
  long k = 1;
  for (;; ++k) {
    const long blocks = live_blocks;
    failing_call = malloc_calls + k;
    oscnet_network* net = oscnet_create(3, 2, 2, units, codes, 4);
    failing_call = 0;
    if (net != nullptr) {
      oscnet_destroy(net);
      break;
    }
    EXPECT_EQ(live_blocks, blocks) << "allocation " << k << " failed";
    EXPECT_STREQ(oscnet_last_error(), "oscnet_create: out of memory");
  }
  EXPECT_GT(k, 20);
}

// Training a handle that runs out of memory, at whichever allocation of its first call, returns
// not-a-number, moves no weight and leaves Adagrad's sums alone: the next call gives exactly
// what it would have given had nothing failed.
TEST(Allocations, HandleTrainingThatRunsOutOfMemoryMovesNoWeight) {
  const int units[2] = {8, 4}, codes[2] = {2, 1};
  const double x[3] = {0.1, -0.2, 0.3}, y[2] = {0.5, -0.5};
  oscnet_network* reference = oscnet_create(3, 2, 2, units, codes, 8);
  ASSERT_NE(reference, nullptr);
  const double expected = oscnet_train(reference, x, y, 2, 0.05, OSCNET_ADAGRAD);
  const double expected_next = oscnet_train(reference, x, y, 2, 0.05, OSCNET_ADAGRAD);
  oscnet_destroy(reference);
  long k = 1;
  for (;; ++k) {
    oscnet_network* net = oscnet_create(3, 2, 2, units, codes, 8);
    ASSERT_NE(net, nullptr);
    std::vector<double> start(oscnet_weights_count(net)), now(start.size());
    oscnet_get_weights(net, start.data(), static_cast<int>(start.size()));
    const long first = malloc_calls;
    failing_call = first + k;
    const double loss = oscnet_train(net, x, y, 2, 0.05, OSCNET_ADAGRAD);
    failing_call = 0;
    const bool reached = malloc_calls - first >= k;
    if (reached) {
      EXPECT_TRUE(std::isnan(loss)) << "allocation " << k << " failed";
      EXPECT_STREQ(oscnet_last_error(), "oscnet_train: out of memory");
      oscnet_get_weights(net, now.data(), static_cast<int>(now.size()));
      EXPECT_EQ(now, start) << "allocation " << k << " failed";
      EXPECT_EQ(oscnet_train(net, x, y, 2, 0.05, OSCNET_ADAGRAD), expected) << k;
    } else {
      EXPECT_EQ(loss, expected);
    }
    EXPECT_EQ(oscnet_train(net, x, y, 2, 0.05, OSCNET_ADAGRAD), expected_next) << k;
    oscnet_destroy(net);
    if (!reached) break;
  }
  EXPECT_GT(k, 10);
}

// A block prediction that runs out of memory, at whichever allocation, writes not-a-number to
// every output, takes no oscillator draw and leaves nothing behind once the network is freed.
TEST(Allocations, RowsPredictionThatRunsOutOfMemoryChangesNothing) {
  const int units[2] = {8, 4}, codes[2] = {3, 3};
  const int rows = 300;
  std::vector<double> x(rows * 3), expected(rows * 2), outputs(rows * 2);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.3 * static_cast<double>(i));
  oscnet_network* reference = oscnet_create(3, 2, 2, units, codes, 6);
  ASSERT_NE(reference, nullptr);
  ASSERT_EQ(oscnet_predict_rows(reference, x.data(), rows, expected.data()), OSCNET_OK);
  oscnet_destroy(reference);
  long k = 1;
  for (;; ++k) {
    const long blocks = live_blocks;
    oscnet_network* net = oscnet_create(3, 2, 2, units, codes, 6);
    ASSERT_NE(net, nullptr);
    const long first = malloc_calls;
    failing_call = first + k;
    const int status = oscnet_predict_rows(net, x.data(), rows, outputs.data());
    failing_call = 0;
    const bool reached = malloc_calls - first >= k;
    if (reached) {
      EXPECT_EQ(status, OSCNET_ERROR_MEMORY) << "allocation " << k << " failed";
      EXPECT_TRUE(
          std::all_of(outputs.begin(), outputs.end(), [](double v) { return std::isnan(v); }));
      EXPECT_EQ(oscnet_predict_rows(net, x.data(), rows, outputs.data()), OSCNET_OK);
    }
    EXPECT_EQ(outputs, expected) << "allocation " << k << " failed";
    oscnet_destroy(net);
    EXPECT_EQ(live_blocks, blocks) << "allocation " << k << " failed";
    if (!reached) break;
  }
  EXPECT_GT(k, 10);
}

}  // namespace
}  // namespace oscnet
