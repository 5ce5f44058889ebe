#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

enum class Combination { same_shape, row_broadcast, none };

// A right operand combines with the left one when it has the same shape or is a single row of
// the same width; any other pair yields zeros of the left shape.
Combination combination(const MatrixXd& l, const MatrixXd& r) {
  if (l.rows() == r.rows() && l.cols() == r.cols()) return Combination::same_shape;
  if (l.cols() == r.cols() && r.rows() == 1) return Combination::row_broadcast;
  return Combination::none;
}

}  // namespace

void Add::compute() {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  switch (combination(l, r)) {
    case Combination::same_shape:
      value = l + r;
      break;
    case Combination::row_broadcast:
      value = l.rowwise() + r.row(0);
      break;
    case Combination::none:
      value.setZero(l.rows(), l.cols());
      break;
  }
}

void Add::backprop() {
  const MatrixXd& l = left->value;
  if (left->requires_grad) left->local_grad.setOnes(l.rows(), l.cols());
  if (right->requires_grad) right->local_grad.setOnes(l.rows(), l.cols());
}

void Minus::compute() {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  switch (combination(l, r)) {
    case Combination::same_shape:
      value = l - r;
      break;
    case Combination::row_broadcast:
      value = l.rowwise() - r.row(0);
      break;
    case Combination::none:
      value.setZero(l.rows(), l.cols());
      break;
  }
}

void Minus::backprop() {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  if (left->requires_grad) left->local_grad.setOnes(l.rows(), l.cols());
  if (right->requires_grad) right->local_grad.setConstant(r.rows(), r.cols(), -1.0);
}

void Dot::compute() {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  if (l.cols() != r.rows()) return;
  value.resize(l.rows(), r.cols());
  value.noalias() = l * r;
}

void Dot::backprop() {
  if (left->requires_grad) left->local_grad = right->value.transpose();
  if (right->requires_grad) right->local_grad = left->value.transpose();
}

}  // namespace oscnet
