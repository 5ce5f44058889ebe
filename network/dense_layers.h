#pragma once

#include <vector>

#include "nodes/linear_nodes.h"
#include "nodes/nodes.h"

namespace oscnet {

/// A layer as the builders make it, seen from the forward order: the product x W, its sum with
/// the bias, and the element-wise activation on that sum, if any.
struct DenseLayer {
  enum class Activation { none, rectifier, logistic, tanh, other };
  Dot* product = nullptr;
  Add* sum = nullptr;
  Nodes* activation = nullptr;  ///< null for none
  Activation kind = Activation::none;
};

/// The layers that `steps` (a forward order) evaluates, in order; empty when the steps are not
/// all such layers.
std::vector<DenseLayer> dense_layers(const std::vector<Nodes*>& steps);

/// Computes every node of `layers` for a single row, writing each value exactly as the node's
/// compute() would, with the sum and a rectifier, logistic or tanh activation taken in the same
/// loop over the layer's units instead of one call and loop per node. A layer whose shapes are
/// not those of one row is evaluated node by node.
void evaluate_dense(const std::vector<DenseLayer>& layers);

}  // namespace oscnet
