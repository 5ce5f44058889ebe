#pragma once

#include <Eigen/Dense>
#include <vector>

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
  /// The chain rule once backprop() has stored the local derivatives: sets `operand.grad` from
  /// this node's `grad` and `operand.local_grad`. Coefficient-wise where their shapes agree, as
  /// for every node whose derivative is element-wise; products of matrices override it.
  virtual void chain_stored(Nodes& operand) const;
  /// Sets the `grad` of each operand that requires one to this node's `grad` combined with the
  /// local derivative, as backprop() and chain_stored() would, but without storing the
  /// derivative. Requires `value` to be current. Returns false, doing nothing, where the node
  /// leaves that to backprop() and chain_stored().
  virtual bool chain_to_operands() { return false; }

  Nodes* right = nullptr;     ///< second operand of a two-operand node
  Nodes* left = nullptr;      ///< first (or only) operand
  Nodes* consumer = nullptr;  ///< the node that takes this one as an operand
  MatrixXd value;             ///< the node's output
  MatrixXd grad;              ///< gradient of the loss with respect to `value`
  MatrixXd local_grad;        ///< derivative of the consumer with respect to this node
  bool requires_grad = true;  ///< gradients flow into this node
  bool is_param = false;      ///< trainable parameter, gathered by parameter collection
  bool is_matmul = false;     ///< a matrix product (its chain_stored multiplies matrices)

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

/// Whether `a` and `b` have the same rows and the same columns.
inline bool same_shape(const MatrixXd& a, const MatrixXd& b) {
  return a.rows() == b.rows() && a.cols() == b.cols();
}

/// Gives `m` the shape rows x cols, keeping its storage when it has that shape already (Eigen's
/// resize() checks the size for overflow with a division even then).
inline void reshape(MatrixXd& m, Eigen::Index rows, Eigen::Index cols) {
  if (m.rows() != rows || m.cols() != cols) m.resize(rows, cols);
}

/// Evaluates the tree below `node` depth first (left subtree, right subtree, node) and returns
/// `node`. Null is returned unchanged.
Nodes* forward(Nodes* node);

/// Appends to `order` the nodes below `root` that have operands, in the order forward() computes
/// them. Leaves are left out: they compute nothing.
void forward_order(Nodes* root, std::vector<Nodes*>& order);

/// Computes the nodes of `order` one after the other: forward() over a fixed tree whose order was
/// worked out once by forward_order().
void evaluate(const std::vector<Nodes*>& order);

/// Destroys every node of the tree below `node`, operands before their consumer.
void release_graph(Nodes* node);

}  // namespace oscnet
