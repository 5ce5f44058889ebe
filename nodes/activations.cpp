#include "nodes/activations.h"

#include <cmath>
#include <limits>

#include "nodes/tanh_quotient.h"

namespace oscnet {
namespace {

double relu(double x) {
  // The formula gives inf - inf for minus infinity; its limit is 0.
  if (x == -std::numeric_limits<double>::infinity()) return 0.0;
  return (std::abs(x) + x) / 2.0;
}

double relu_slope(double x) {
  return x > 0.0 ? 1.0 : 0.0;
}

double sigmoid(double x) {
  return 1.0 / (1.0 + std::exp(-1.0 * x));
}

double sigmoid_slope(double x) {
  const double s = sigmoid(x);
  return s * (1.0 - s);
}

}  // namespace

void ReLu::compute() {
  value = left->value.unaryExpr([](double x) { return relu(x); });
}

void ReLu::backprop() {
  if (left->requires_grad) left->local_grad = left->value.unaryExpr(&relu_slope);
}

bool ReLu::chain_to_operands() {
  if (!same_shape(grad, left->value)) return false;
  if (left->requires_grad) {
    left->grad = grad.cwiseProduct(left->value.unaryExpr([](double x) { return relu_slope(x); }));
  }
  return true;
}

void Sigmoid::compute() {
  value = left->value.unaryExpr([](double x) { return sigmoid(x); });
}

void Sigmoid::backprop() {
  if (left->requires_grad) left->local_grad = left->value.unaryExpr(&sigmoid_slope);
}

// The slope formula applied to the value computed from the same operand gives the same bits
// as recomputing it, without the exponential.
bool Sigmoid::chain_to_operands() {
  if (!same_shape(grad, left->value) || !same_shape(value, left->value)) return false;
  if (left->requires_grad) {
    left->grad = grad.cwiseProduct(value.unaryExpr([](double s) { return s * (1.0 - s); }));
  }
  return true;
}

void Tanh::compute() {
  const double k = steepness;
  value = left->value.unaryExpr([k](double x) { return tanh_quotient(x, k); });
}

void Tanh::backprop() {
  if (left->requires_grad) write_tanh_slope(left->value, steepness, left->local_grad);
}

bool Tanh::chain_to_operands() {
  if (!same_shape(grad, left->value) || !same_shape(value, left->value)) return false;
  if (left->requires_grad) {
    const double k = steepness;
    left->grad = grad.cwiseProduct(value.unaryExpr([k](double t) { return k * (1.0 - t * t); }));
  }
  return true;
}

}  // namespace oscnet
