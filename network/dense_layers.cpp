#include "network/dense_layers.h"

#include <type_traits>

#include "nodes/activations.h"

namespace oscnet {
namespace {

DenseLayer::Activation kind_of(const Nodes* node) {
  using Activation = DenseLayer::Activation;
  if (dynamic_cast<const ReLu*>(node) != nullptr) return Activation::rectifier;
  if (dynamic_cast<const Sigmoid*>(node) != nullptr) return Activation::logistic;
  if (dynamic_cast<const Tanh*>(node) != nullptr) return Activation::tanh;
  return Activation::other;
}

// Whether the layer holds one row of its width in every value already, so that nothing needs
// reshaping; the first evaluation, node by node, gives them those shapes.
bool one_row(const DenseLayer& layer) {
  const MatrixXd& x = layer.product->left->value;
  const MatrixXd& W = layer.product->right->value;
  const MatrixXd& b = layer.sum->right->value;
  const Eigen::Index u = W.cols();
  const auto is_row = [u](const MatrixXd& m) { return m.rows() == 1 && m.cols() == u; };
  return x.rows() == 1 && x.cols() == W.rows() && is_row(b) && is_row(layer.product->value) &&
         is_row(layer.sum->value) &&
         (layer.activation == nullptr || is_row(layer.activation->value));
}

// A layer without an activation that this pass computes itself.
struct NoActivation {};

// sum_j = product_j + bias_j, then the activation's function of it, as Add and Elementwise
// compute them coefficient by coefficient.
template <typename Unit>
void sum_and_activate(const DenseLayer& layer) {
  const double* product = layer.product->value.data();
  const double* bias = layer.sum->right->value.data();
  double* sum = layer.sum->value.data();
  const Eigen::Index u = layer.sum->value.cols();
  if constexpr (std::is_same_v<Unit, NoActivation>) {
    for (Eigen::Index j = 0; j < u; ++j) sum[j] = product[j] + bias[j];
  } else {
    const Unit& unit = static_cast<const Unit&>(*layer.activation);
    double* out = layer.activation->value.data();
    for (Eigen::Index j = 0; j < u; ++j) {
      const double z = product[j] + bias[j];
      sum[j] = z;
      out[j] = unit.function(z);
    }
  }
}

}  // namespace

std::vector<DenseLayer> dense_layers(const std::vector<Nodes*>& steps) {
  std::vector<DenseLayer> layers;
  for (std::size_t k = 0; k < steps.size();) {
    DenseLayer layer;
    layer.product = dynamic_cast<Dot*>(steps[k]);
    layer.sum = k + 1 < steps.size() ? dynamic_cast<Add*>(steps[k + 1]) : nullptr;
    if (layer.product == nullptr || layer.sum == nullptr || layer.sum->left != layer.product) {
      return {};
    }
    k += 2;
    if (k < steps.size() && steps[k]->left == layer.sum && steps[k]->right == nullptr) {
      layer.activation = steps[k];
      layer.kind = kind_of(layer.activation);
      ++k;
    }
    layers.push_back(layer);
  }
  return layers;
}

void evaluate_dense(const std::vector<DenseLayer>& layers) {
  using Activation = DenseLayer::Activation;
  for (const DenseLayer& layer : layers) {
    if (!one_row(layer)) {
      layer.product->compute();
      layer.sum->compute();
      if (layer.activation != nullptr) layer.activation->compute();
      continue;
    }
    row_times_matrix(layer.product->left->value, layer.product->right->value, layer.product->value);
    switch (layer.kind) {
      case Activation::none:
        sum_and_activate<NoActivation>(layer);
        break;
      case Activation::rectifier:
        sum_and_activate<ReLu>(layer);
        break;
      case Activation::logistic:
        sum_and_activate<Sigmoid>(layer);
        break;
      case Activation::tanh:
        sum_and_activate<Tanh>(layer);
        break;
      case Activation::other:
        sum_and_activate<NoActivation>(layer);
        layer.activation->compute();
        break;
    }
  }
}

}  // namespace oscnet
