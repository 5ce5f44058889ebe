// Steady-state evaluation must not touch the heap: every node reuses its matrices while the
// shapes stay the same. Counts calls of malloc, which both operator new and Eigen go through.
#include <gtest/gtest.h>

#include <cstddef>

#include "nodes/activations.h"
#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"
#include "nodes/linear_nodes.h"

namespace {
long malloc_calls = 0;
}

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
  ++malloc_calls;
  return __libc_malloc(size);
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

}  // namespace
}  // namespace oscnet
