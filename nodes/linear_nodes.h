#pragma once

#include "nodes/nodes.h"

namespace oscnet {

/// value = x * W for a one-row x (value already 1 x W.cols()): value_j = sum over i of x_i W_ij,
/// summed in index order for small W and by Eigen's matrix-vector product otherwise. Dot::compute
/// uses it for a single row.
void row_times_matrix(const MatrixXd& x, const MatrixXd& W, MatrixXd& value);

/// left + right; a one-row right operand is added to every row of the left one.
class Add : public Nodes {
 public:
  Add(Nodes& first, Nodes& second) { link(first, second); }
  /// Sum of the operands; zeros of the left shape when their shapes do not combine.
  void compute() override;
  /// Ones of the left operand's shape into each operand that requires a gradient.
  void backprop() override;
  /// Copies of this gradient into the operands: its product with those ones.
  bool chain_to_operands() override;
};

/// left - right, with the same broadcast rule as Add.
class Minus : public Nodes {
 public:
  Minus(Nodes& first, Nodes& second) { link(first, second); }
  /// Difference of the operands; zeros of the left shape when their shapes do not combine.
  void compute() override;
  /// Ones of the left shape into the left operand, minus ones of the right shape into the right.
  void backprop() override;
  /// This gradient into the left operand and its product with minus one into the right one.
  bool chain_to_operands() override;
};

/// Matrix product left * right (layer input times weights).
class Dot : public Nodes {
 public:
  Dot(Nodes& first, Nodes& second) {
    is_matmul = true;
    link(first, second);
  }
  /// The product; keeps the previous value when the inner dimensions differ.
  void compute() override;
  /// The product of a left operand of several rows, each row summed exactly as compute() sums
  /// a one-row operand, so that a block of rows gives the bits of its rows taken one at a time.
  /// `row_in` and `row_out` are scratch rows, reshaped to the operand's and the product's width
  /// (no allocation when they are already). Keeps the previous value when the inner dimensions
  /// differ.
  void compute_rows_as_single(MatrixXd& row_in, MatrixXd& row_out);
  /// right transposed into the left operand, left transposed into the right operand.
  void backprop() override;
  /// grad * right^T for the left operand and left^T * grad for the right one, from those stored
  /// transposes.
  void chain_stored(Nodes& operand) const override;
  /// grad * right^T into the left operand and left^T * grad into the right one, read through
  /// transposed views instead of stored transposes.
  bool chain_to_operands() override;
  /// Whether chain_to_operands() can run: the operands' and this gradient's shapes combine.
  bool shapes_chain() const;
  /// The left operand's half of chain_to_operands(), which shapes_chain() allows.
  void chain_to_left();
};

}  // namespace oscnet
