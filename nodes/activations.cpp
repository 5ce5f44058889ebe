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
  value = left->value.unaryExpr(&relu);
}

void ReLu::backprop() {
  if (left->requires_grad) left->local_grad = left->value.unaryExpr(&relu_slope);
}

void Sigmoid::compute() {
  value = left->value.unaryExpr(&sigmoid);
}

void Sigmoid::backprop() {
  if (left->requires_grad) left->local_grad = left->value.unaryExpr(&sigmoid_slope);
}

void Tanh::compute() {
  const double k = steepness;
  value = left->value.unaryExpr([k](double x) { return tanh_quotient(x, k); });
}

void Tanh::backprop() {
  if (left->requires_grad) write_tanh_slope(left->value, steepness, left->local_grad);
}

}  // namespace oscnet
