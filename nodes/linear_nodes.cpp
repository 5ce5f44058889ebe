#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// Combines the operands with `op` when the right one has the left's shape, or is a single row
// of the left's width (then added to every row); any other pair yields zeros of the left shape.
template <typename Op>
void combine_into(MatrixXd& value, const MatrixXd& l, const MatrixXd& r, Op op) {
  if (l.rows() == r.rows() && l.cols() == r.cols()) {
    value = op(l, r);
  } else if (l.cols() == r.cols() && r.rows() == 1) {
    value = op(l.rowwise(), r.row(0));
  } else {
    value.setZero(l.rows(), l.cols());
  }
}

}  // namespace

void Add::compute() {
  combine_into(value, left->value, right->value,
               [](const auto& a, const auto& b) { return a + b; });
}

void Add::backprop() {
  const MatrixXd& l = left->value;
  if (left->requires_grad) left->local_grad.setOnes(l.rows(), l.cols());
  if (right->requires_grad) right->local_grad.setOnes(l.rows(), l.cols());
}

void Minus::compute() {
  combine_into(value, left->value, right->value,
               [](const auto& a, const auto& b) { return a - b; });
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
