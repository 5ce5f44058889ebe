#include "network/optimizer.h"

namespace oscnet {
namespace {

// The gradient that updates `P`: its own when shaped like its value, or, for a bias fed
// several rows, the column sums of its one-gradient-row-per-batch-row. A gradient that fits
// neither (no backward pass has reached the parameter yet) leaves the parameter alone.
template <typename Update>
void with_reduced_gradient(const Nodes& P, Update update) {
  const MatrixXd& g = P.grad;
  const MatrixXd& v = P.value;
  if (same_shape(g, v)) {
    update(g);
  } else if (v.rows() == 1 && g.cols() == v.cols() && g.rows() > 0) {
    update(MatrixXd(g.colwise().sum()));
  }
}

// Every coefficient of a matrix as one array. Eigen allocates matrices aligned, so the updates
// run as plain vectorised loops without a peeled start; the shapes are checked already.
Eigen::Map<Eigen::ArrayXd, Eigen::Aligned16> flat(MatrixXd& m) {
  return {m.data(), m.size()};
}
Eigen::Map<const Eigen::ArrayXd, Eigen::Aligned16> flat(const MatrixXd& m) {
  return {m.data(), m.size()};
}

}  // namespace

void descend(Nodes& P, double lr) {
  with_reduced_gradient(P, [&](const MatrixXd& G) { flat(P.value) -= lr * flat(G); });
}

void adagrad_update(Nodes& P, MatrixXd& A, double lr) {
  with_reduced_gradient(P, [&](const MatrixXd& G) {
    if (!same_shape(A, G)) return;
    flat(A) += flat(G).square();
    flat(P.value) -= lr * (flat(G) / (flat(A) + 1e-10).sqrt());
  });
}

void G_D_Optimizer::step() {
  for (Nodes* P : params) descend(*P, lr);
}

Adagrad_Optimizer::Adagrad_Optimizer(const std::vector<Nodes*>& list, double learning_rate)
    : Optimizer(list, learning_rate) {
  accum.reserve(list.size());
  for (const Nodes* P : list) accum.push_back(MatrixXd::Zero(P->value.rows(), P->value.cols()));
}

void Adagrad_Optimizer::step() {
  for (std::size_t i = 0; i < params.size(); ++i) adagrad_update(*params[i], accum[i], lr);
}

}  // namespace oscnet
