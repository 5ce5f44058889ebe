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
  if (g.rows() == v.rows() && g.cols() == v.cols()) {
    update(g);
  } else if (v.rows() == 1 && g.cols() == v.cols() && g.rows() > 0) {
    update(MatrixXd(g.colwise().sum()));
  }
}

}  // namespace

void G_D_Optimizer::step() {
  for (Nodes* P : params) {
    with_reduced_gradient(*P, [&](const auto& G) { P->value -= lr * G; });
  }
}

Adagrad_Optimizer::Adagrad_Optimizer(const std::vector<Nodes*>& list, double learning_rate)
    : Optimizer(list, learning_rate) {
  accum.reserve(list.size());
  for (const Nodes* P : list) accum.push_back(MatrixXd::Zero(P->value.rows(), P->value.cols()));
}

void Adagrad_Optimizer::step() {
  for (std::size_t i = 0; i < params.size(); ++i) {
    Nodes* P = params[i];
    auto A = accum[i].array();
    with_reduced_gradient(*P, [&](const auto& G) {
      A += G.array().square();
      P->value.array() -= lr * (G.array() / (A + 1e-10).sqrt());
    });
  }
}

}  // namespace oscnet
