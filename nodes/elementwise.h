#pragma once

#include "nodes/nodes.h"

namespace oscnet {

/// A one-operand node that maps each coefficient x of its operand through a function. `Unit`, the
/// derived class, defines it by two members and nothing else:
///
///   double function(double x) const;          // the node's output at x
///   double slope(double x, double y) const;   // its derivative there, given y = function(x)
///
/// The forward step, the local derivative stored for the general backward pass and the gradient
/// handed straight to the operand all use these two, so that each slope is written once. Where
/// `Unit::kOutputIsFunction` holds, the direct chain rule reads y from `value` instead of
/// recomputing it; a unit whose output is something else (the oscillator's samples) recomputes it.
template <typename Unit>
class Elementwise : public Nodes {
 public:
  /// function(x) coefficient-wise, in the operand's current shape.
  void compute() override {
    const MatrixXd& x = left->value;
    reshape(value, x.rows(), x.cols());
    const Unit& unit = self();
    const double* in = x.data();
    double* out = value.data();
    for (Eigen::Index k = 0; k < x.size(); ++k) out[k] = unit.function(in[k]);
  }

  /// slope(x, function(x)) into the operand, recomputed from the operand's value.
  void backprop() override {
    if (!left->requires_grad) return;
    const MatrixXd& x = left->value;
    reshape(left->local_grad, x.rows(), x.cols());
    const Unit& unit = self();
    const double* in = x.data();
    double* out = left->local_grad.data();
    for (Eigen::Index k = 0; k < x.size(); ++k) out[k] = unit.slope(in[k], unit.function(in[k]));
  }

  /// This gradient times the slope into the operand.
  bool chain_to_operands() override {
    const MatrixXd& x = left->value;
    if (!same_shape(grad, x)) return false;
    if (!left->requires_grad) return true;
    reshape(left->grad, x.rows(), x.cols());
    const Unit& unit = self();
    const double* in = x.data();
    const double* down = grad.data();
    double* out = left->grad.data();
    if (Unit::kOutputIsFunction && same_shape(value, x)) {
      const double* y = value.data();
      for (Eigen::Index k = 0; k < x.size(); ++k) out[k] = down[k] * unit.slope(in[k], y[k]);
    } else {
      for (Eigen::Index k = 0; k < x.size(); ++k) {
        out[k] = down[k] * unit.slope(in[k], unit.function(in[k]));
      }
    }
    return true;
  }

 protected:
  /// Links to `operand` and starts with a copy of its value, so that a layer built on top can be
  /// sized before anything is evaluated.
  explicit Elementwise(Nodes& operand) { link_copying_value(operand); }

 private:
  const Unit& self() const { return static_cast<const Unit&>(*this); }
};

}  // namespace oscnet
