#pragma once

#include "nodes/nodes.h"

namespace oscnet {

/// The loss: sum of the squared coefficients of its operand divided by the operand's row count.
class F_Norm : public Nodes {
 public:
  explicit F_Norm(Nodes& operand) { link(operand); }
  /// 1 x 1 value; NaN for an operand without rows.
  void compute() override;
  /// Twice the operand's value (not divided by the row count) into the operand.
  void backprop() override;
  /// This gradient times twice the operand's value into the operand.
  bool chain_to_operands() override;
};

}  // namespace oscnet
