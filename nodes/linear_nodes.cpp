#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// A one-row matrix as the row vector it is, contiguous in memory.
Eigen::Map<Eigen::RowVectorXd> as_row(MatrixXd& m) {
  return {m.data(), m.cols()};
}
Eigen::Map<const Eigen::RowVectorXd> as_row(const MatrixXd& m) {
  return {m.data(), m.cols()};
}

// Small weight matrices take plain loops: setting up a vectorised matrix-vector product costs
// more than the arithmetic of a few dozen coefficients.
bool small(const MatrixXd& W) {
  return W.size() <= 64;
}

}  // namespace

// The small products below sum each coefficient's terms strictly in index order, four
// coefficients at a time in separate registers so that their additions overlap, and read
// through local pointers so that the compiler keeps sizes and addresses in registers.

void row_times_matrix(const MatrixXd& x, const MatrixXd& W, MatrixXd& value) {
  if (!small(W)) {
    as_row(value).noalias() = as_row(x) * W;
    return;
  }
  const Eigen::Index n = W.rows(), u = W.cols();
  const double* in = x.data();
  const double* w = W.data();
  double* out = value.data();
  Eigen::Index j = 0;
  for (; j + 4 <= u; j += 4) {
    const double* c = w + j * n;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) {
      const double xi = in[i];
      s0 += xi * c[i];
      s1 += xi * c[i + n];
      s2 += xi * c[i + 2 * n];
      s3 += xi * c[i + 3 * n];
    }
    out[j] = s0;
    out[j + 1] = s1;
    out[j + 2] = s2;
    out[j + 3] = s3;
  }
  for (; j < u; ++j) {
    const double* c = w + j * n;
    double sum = 0.0;
    for (Eigen::Index i = 0; i < n; ++i) sum += in[i] * c[i];
    out[j] = sum;
  }
}

namespace {

// result = g * W^T for a one-row g: result_i = sum over j of g_j W_ij.
void row_times_transpose(const MatrixXd& g, const MatrixXd& W, MatrixXd& result) {
  reshape(result, 1, W.rows());
  if (!small(W)) {
    as_row(result).noalias() = as_row(g) * W.transpose();
    return;
  }
  const Eigen::Index n = W.rows(), u = W.cols();
  const double* in = g.data();
  const double* w = W.data();
  double* out = result.data();
  Eigen::Index i = 0;
  for (; i + 4 <= n; i += 4) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (Eigen::Index j = 0; j < u; ++j) {
      const double gj = in[j];
      const double* c = w + j * n + i;
      s0 += gj * c[0];
      s1 += gj * c[1];
      s2 += gj * c[2];
      s3 += gj * c[3];
    }
    out[i] = s0;
    out[i + 1] = s1;
    out[i + 2] = s2;
    out[i + 3] = s3;
  }
  for (; i < n; ++i) {
    double sum = 0.0;
    for (Eigen::Index j = 0; j < u; ++j) sum += in[j] * w[i + j * n];
    out[i] = sum;
  }
}

// result = x^T * g for one-row x and g: one multiplication per coefficient.
void outer_product(const MatrixXd& x, const MatrixXd& g, MatrixXd& result) {
  const Eigen::Index n = x.cols(), u = g.cols();
  reshape(result, n, u);
  if (!small(result)) {
    result.noalias() = as_row(x).transpose() * as_row(g);
    return;
  }
  const double* in = x.data();
  const double* down = g.data();
  double* out = result.data();
  for (Eigen::Index j = 0; j < u; ++j, out += n) {
    const double gj = down[j];
    for (Eigen::Index i = 0; i < n; ++i) out[i] = in[i] * gj;
  }
}

// Combines the operands with `op` when the right one has the left's shape, or is a single row
// of the left's width (then added to every row); any other pair yields zeros of the left shape.
// Up to this many coefficients a plain loop beats Eigen's vectorised one.
constexpr Eigen::Index kPlainLoopLimit = 16;

template <typename Op>
void combine_into(MatrixXd& value, const MatrixXd& l, const MatrixXd& r, Op op) {
  if (same_shape(l, r)) {
    reshape(value, l.rows(), l.cols());
    if (l.size() > kPlainLoopLimit) {
      value.noalias() = op(l, r);
      return;
    }
    // Coefficient by coefficient into the storage kept from the last call: for a few
    // coefficients Eigen's vectorised assignment costs more to dispatch than the additions.
    const double* a = l.data();
    const double* b = r.data();
    double* out = value.data();
    for (Eigen::Index k = 0; k < l.size(); ++k) out[k] = op(a[k], b[k]);
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

bool Add::chain_to_operands() {
  if (!same_shape(grad, left->value)) return false;
  if (left->requires_grad) left->grad = grad;
  if (right->requires_grad) right->grad = grad;
  return true;
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

bool Minus::chain_to_operands() {
  if ((left->requires_grad && !same_shape(grad, left->value)) ||
      (right->requires_grad && !same_shape(grad, right->value))) {
    return false;
  }
  if (left->requires_grad) left->grad = grad;
  // A product, not a negation, so that a not-a-number keeps its sign bit as the product would.
  if (right->requires_grad) right->grad = grad * -1.0;
  return true;
}

void Dot::compute() {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  if (l.cols() != r.rows()) return;
  reshape(value, l.rows(), r.cols());
  if (l.rows() == 1) {
    // The network's single row, seen as a vector so that the product is a matrix-vector
    // product from the start instead of a choice made at run time by size.
    row_times_matrix(l, r, value);
  } else {
    value.noalias() = l * r;
  }
}

void Dot::compute_rows_as_single(MatrixXd& row_in, MatrixXd& row_out) {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  if (l.cols() != r.rows()) return;
  reshape(value, l.rows(), r.cols());
  reshape(row_in, 1, l.cols());
  reshape(row_out, 1, r.cols());
  for (Eigen::Index i = 0; i < l.rows(); ++i) {
    as_row(row_in) = l.row(i);
    row_times_matrix(row_in, r, row_out);
    value.row(i) = as_row(row_out);
  }
}

void Dot::backprop() {
  if (left->requires_grad) left->local_grad = right->value.transpose();
  if (right->requires_grad) right->local_grad = left->value.transpose();
}

void Dot::chain_stored(Nodes& operand) const {
  if (&operand == left) {
    operand.grad.noalias() = grad * operand.local_grad;
  } else {
    operand.grad.noalias() = operand.local_grad * grad;
  }
}

bool Dot::shapes_chain() const {
  const MatrixXd& l = left->value;
  const MatrixXd& r = right->value;
  return l.cols() == r.rows() && grad.rows() == l.rows() && grad.cols() == r.cols();
}

void Dot::chain_to_left() {
  if (!left->requires_grad) return;
  if (left->value.rows() == 1) {
    row_times_transpose(grad, right->value, left->grad);
  } else {
    left->grad.noalias() = grad * right->value.transpose();
  }
}

bool Dot::chain_to_operands() {
  if (!shapes_chain()) return false;
  chain_to_left();
  if (right->requires_grad) {
    const MatrixXd& l = left->value;
    if (l.rows() == 1) {
      outer_product(l, grad, right->grad);
    } else {
      right->grad.noalias() = l.transpose() * grad;
    }
  }
  return true;
}

}  // namespace oscnet
