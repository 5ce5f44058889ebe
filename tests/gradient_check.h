#pragma once

#include <Eigen/Dense>

#include "nodes/nodes.h"

namespace oscnet::testing {

/// Weighted sum of a node's value: a scalar whose gradient exercises every coefficient.
inline double weighted_output(Nodes& node, const MatrixXd& weights) {
  node.compute();
  double total = 0.0;
  for (Eigen::Index k = 0; k < weights.size(); ++k) total += weights(k) * node.value(k);
  return total;
}

/// Central differences of `scalar()` with respect to every coefficient of `point`, which is
/// restored afterwards.
template <typename Scalar>
MatrixXd central_differences(MatrixXd& point, Scalar scalar, double h = 1e-6) {
  MatrixXd gradient(point.rows(), point.cols());
  for (Eigen::Index k = 0; k < point.size(); ++k) {
    const double original = point(k);
    point(k) = original + h;
    const double up = scalar();
    point(k) = original - h;
    const double down = scalar();
    point(k) = original;
    gradient(k) = (up - down) / (2.0 * h);
  }
  return gradient;
}

/// Central-difference gradient of sum(weights .* node.value) with respect to `operand`'s value.
inline MatrixXd numeric_gradient(Nodes& node, Nodes& operand, const MatrixXd& weights,
                                 double h = 1e-6) {
  const MatrixXd gradient = central_differences(
      operand.value, [&] { return weighted_output(node, weights); }, h);
  node.compute();
  return gradient;
}

/// The same gradient as the backward pass forms it from the operand's local derivative:
/// coefficient-wise for ordinary nodes, a matrix product on the operand's side for products.
inline MatrixXd chained_gradient(Nodes& node, Nodes& operand, const MatrixXd& weights) {
  node.backprop();
  const MatrixXd& local = operand.local_grad;
  if (!node.is_matmul) return weights.cwiseProduct(local);
  return &operand == node.left ? MatrixXd(weights * local) : MatrixXd(local * weights);
}

}  // namespace oscnet::testing
