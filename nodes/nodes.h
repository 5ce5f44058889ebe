#pragma once

#include <Eigen/Dense>

namespace oscnet {

using Eigen::MatrixXd;

/// A node of the computation graph: a matrix value, its gradient and the links of a tree.
///
/// Operands are non-owning links; the whole tree is owned through its root and destroyed by
/// release_graph(). Every non-leaf constructor links its operands to the new node.
class Nodes {
 public:
  Nodes() = default;
  Nodes(const Nodes&) = delete;
  Nodes& operator=(const Nodes&) = delete;
  virtual ~Nodes() = default;

  /// Brings `value` up to date from the operands' values (already current).
  virtual void compute() {}
  /// Writes this node's local derivative into `local_grad` of each operand that requires it.
  virtual void backprop() {}

  Nodes* right = nullptr;     ///< second operand of a two-operand node
  Nodes* left = nullptr;      ///< first (or only) operand
  Nodes* consumer = nullptr;  ///< the node that takes this one as an operand
  MatrixXd value;             ///< the node's output
  MatrixXd grad;              ///< gradient of the loss with respect to `value`
  MatrixXd local_grad;        ///< derivative of the consumer with respect to this node
  bool requires_grad = true;  ///< gradients flow into this node
  bool is_param = false;      ///< trainable parameter, gathered by parameter collection
  bool is_matmul = false;     ///< gradients combine with operands by matrix product

 protected:
  /// Links a one-operand node under construction to its operand.
  void link(Nodes& operand) {
    left = &operand;
    operand.consumer = this;
  }
  /// Links an activation under construction to its operand and starts it with a copy of the
  /// operand's value, so that a layer built on top can be sized before anything is evaluated.
  void link_copying_value(Nodes& operand) {
    value = operand.value;
    link(operand);
  }
  /// Links a two-operand node under construction to its operands.
  void link(Nodes& first, Nodes& second) {
    left = &first;
    right = &second;
    first.consumer = this;
    second.consumer = this;
  }
};

/// Evaluates the tree below `node` depth first (left subtree, right subtree, node) and returns
/// `node`. Null is returned unchanged.
Nodes* forward(Nodes* node);

/// Destroys every node of the tree below `node`, operands before their consumer.
void release_graph(Nodes* node);

}  // namespace oscnet
