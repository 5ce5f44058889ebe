#pragma once

#include "nodes/nodes.h"

namespace oscnet {

/// Rectifier (|x| + x) / 2.
class ReLu : public Nodes {
 public:
  explicit ReLu(Nodes& operand) { link_copying_value(operand); }
  /// max(x, 0) coefficient-wise; minus infinity gives 0.
  void compute() override;
  /// 1 where x > 0, else 0.
  void backprop() override;
  /// This gradient times that slope into the operand.
  bool chain_to_operands() override;
};

/// Logistic function 1 / (1 + e^{-x}).
class Sigmoid : public Nodes {
 public:
  explicit Sigmoid(Nodes& operand) { link_copying_value(operand); }
  /// S(x) coefficient-wise.
  void compute() override;
  /// S(x) (1 - S(x)), recomputed from the operand.
  void backprop() override;
  /// This gradient times that slope into the operand, with S(x) read from `value`.
  bool chain_to_operands() override;
};

/// Hyperbolic tangent of steepness * x.
class Tanh : public Nodes {
 public:
  explicit Tanh(Nodes& operand) { link_copying_value(operand); }
  /// tanh_quotient(x, steepness) coefficient-wise.
  void compute() override;
  /// steepness (1 - T^2), recomputed from the operand.
  void backprop() override;
  /// This gradient times that slope into the operand, with T read from `value`.
  bool chain_to_operands() override;

  const double steepness = 6.0;  ///< factor of x inside the exponentials
};

}  // namespace oscnet
