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
  value.resize(1, 1);
  value(0, 0) = sum / static_cast<double>(l.rows());
}

void F_Norm::backprop() {
  if (left->requires_grad) left->local_grad = left->value + left->value;
}

}  // namespace oscnet
