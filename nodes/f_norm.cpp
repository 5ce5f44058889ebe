#include "nodes/f_norm.h"

#include <cmath>

namespace oscnet {

void F_Norm::compute() {
  const MatrixXd& l = left->value;
  // Accumulated row by row, left to right, so the rounding is the same on every platform.
  double sum = 0.0;
  for (Eigen::Index i = 0; i < l.rows(); ++i) {
    for (Eigen::Index j = 0; j < l.cols(); ++j) sum = std::pow(l(i, j), 2.0) + sum;
  }
  reshape(value, 1, 1);
  value(0, 0) = sum / static_cast<double>(l.rows());
}

void F_Norm::backprop() {
  if (left->requires_grad) left->local_grad = left->value + left->value;
}

bool F_Norm::chain_to_operands() {
  const MatrixXd& l = left->value;
  if (!same_shape(grad, l)) return false;
  if (left->requires_grad) left->grad = grad.cwiseProduct(l + l);
  return true;
}

}  // namespace oscnet
