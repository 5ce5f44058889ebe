#include "network/training_pass.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "network/backward.h"
#include "network/optimizer.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

using Column = Eigen::Map<Eigen::ArrayXd>;

// Moves the coefficients of `value` by their gradients `G` (an array expression), as descend()
// and adagrad_update() move them from a stored gradient, in the same vectorised operations;
// `sums` are Adagrad's, or null for gradient descent.
template <typename Gradient>
void move(Column value, double* sums, double lr, const Gradient& G) {
  if (sums == nullptr) {
    value -= lr * G;
    return;
  }
  Column A(sums, value.size());
  A += G.square();
  value -= lr * (G / (A + 1e-10).sqrt());
}

// move() for one coefficient, with its sum of squares when kAdagrad.
template <bool kAdagrad>
void move_one(double& value, double* sum, double lr, double G) {
  if constexpr (kAdagrad) {
    *sum = *sum + G * G;
    value = value - lr * (G / std::sqrt(*sum + 1e-10));
  } else {
    value = value - lr * G;
  }
}

// move() for a few coefficients, whose vectorised loops cost more to set up than they save: weight
// (i, j) of an n-row matrix moves by in_i g_j, which is also stored in `kept` when not null.
template <bool kAdagrad>
void move_small(double* value, double* sums, double lr, const double* in, Eigen::Index n,
                const double* g, Eigen::Index u, double* kept) {
  for (Eigen::Index j = 0; j < u; ++j, value += n, sums += kAdagrad ? n : 0) {
    const double gj = g[j];
    for (Eigen::Index i = 0; i < n; ++i) {
      const double G = in[i] * gj;
      if (kept != nullptr) kept[j * n + i] = G;
      move_one<kAdagrad>(value[i], kAdagrad ? sums + i : nullptr, lr, G);
    }
  }
}

// move() for a few coefficients, each by its own gradient G_k.
template <bool kAdagrad>
void move_each(double* value, double* sums, double lr, const double* G, Eigen::Index count) {
  for (Eigen::Index k = 0; k < count; ++k) {
    move_one<kAdagrad>(value[k], kAdagrad ? sums + k : nullptr, lr, G[k]);
  }
}

// Copies `from` into `to`, which has its shape already: Eigen's assignment checks more than a
// few coefficients take to copy.
void copy_same_shape(const MatrixXd& from, MatrixXd& to) {
  std::copy_n(from.data(), from.size(), to.data());
}

// The sums of squared gradients of parameter `p`, when they fit it; `fits` false otherwise.
double* sums_of(const UpdateRule& rule, int p, const MatrixXd& value, bool& fits) {
  fits = true;
  if (rule.sums == nullptr) return nullptr;
  MatrixXd& A = (*rule.sums)[static_cast<std::size_t>(p)];
  fits = same_shape(A, value);
  return A.data();
}

// Up to this many weights plain loops move them for less than Eigen's vectorised ones.
constexpr Eigen::Index kSmallWeights = 64;

// A layer's product x W, one row: the input's gradient first, with W as it was, then each
// weight moves by its gradient x_i g_j. Returns false, doing nothing, for other shapes, and for
// large matrices whose gradients are kept: storing the whole gradient and then moving the whole
// matrix from it, as the general step does, costs less than doing both column by column.
bool update_weights(Dot& product, const UpdateRule& rule, int p, bool keep_gradients) {
  Nodes& W = *product.right;
  const MatrixXd& x = product.left->value;
  if (x.rows() != 1 || !product.shapes_chain()) return false;
  const bool small = W.value.size() <= kSmallWeights;
  if (keep_gradients && !small) return false;
  bool fits = false;
  double* const sums = sums_of(rule, p, W.value, fits);
  if (!fits) return false;
  // A leaf's gradient is read by nothing in the pass.
  const Nodes& below = *product.left;
  if (keep_gradients || below.left != nullptr || below.right != nullptr) product.chain_to_left();
  const Eigen::Index n = W.value.rows(), u = W.value.cols();
  const double* g = product.grad.data();
  if (small) {
    double* kept = nullptr;
    if (keep_gradients) {
      reshape(W.grad, n, u);
      kept = W.grad.data();
    }
    if (sums == nullptr) {
      move_small<false>(W.value.data(), nullptr, rule.lr, x.data(), n, g, u, kept);
    } else {
      move_small<true>(W.value.data(), sums, rule.lr, x.data(), n, g, u, kept);
    }
    return true;
  }
  const Eigen::Map<const Eigen::ArrayXd> in(x.data(), n);
  // Column by column: weight (i, j)'s gradient is x_i g_j, one product as the stored one.
  for (Eigen::Index j = 0; j < u; ++j) {
    const Eigen::Index at = j * n;
    move(Column(W.value.data() + at, n), sums == nullptr ? nullptr : sums + at, rule.lr, in * g[j]);
  }
  return true;
}

// Up to this many biases a plain loop moves them for less than Eigen's vectorised one.
constexpr Eigen::Index kSmallBias = 16;

// A layer's sum z + b, one row: z's gradient is this one, and so is the bias's. Returns false,
// doing nothing, for other shapes.
bool update_bias(Nodes& sum, const UpdateRule& rule, int p, bool keep_gradients) {
  Nodes& b = *sum.right;
  const MatrixXd& g = sum.grad;
  if (!same_shape(g, sum.left->value) || !same_shape(g, b.value)) return false;
  bool fits = false;
  double* const sums = sums_of(rule, p, b.value, fits);
  if (!fits) return false;
  // The general pass that came first gave every gradient its shape, so a plain copy will do.
  const auto give = [&g](MatrixXd& to) {
    if (same_shape(to, g)) {
      copy_same_shape(g, to);
    } else {
      to = g;
    }
  };
  if (sum.left->requires_grad) give(sum.left->grad);
  if (keep_gradients) give(b.grad);
  const Eigen::Index count = g.size();
  if (count > kSmallBias) {
    move(Column(b.value.data(), count), sums, rule.lr,
         Eigen::Map<const Eigen::ArrayXd>(g.data(), count));
  } else if (sums == nullptr) {
    move_each<false>(b.value.data(), nullptr, rule.lr, g.data(), count);
  } else {
    move_each<true>(b.value.data(), sums, rule.lr, g.data(), count);
  }
  return true;
}

}  // namespace

std::vector<TrainingStep> training_steps(const std::vector<Nodes*>& order,
                                         const std::vector<Nodes*>& parameters) {
  std::unordered_map<const Nodes*, int> index;
  for (std::size_t p = 0; p < parameters.size(); ++p) {
    index.emplace(parameters[p], static_cast<int>(p));
  }
  std::vector<TrainingStep> steps;
  steps.reserve(order.size());
  for (Nodes* N : order) {
    TrainingStep step;
    step.node = N;
    if (N->right != nullptr && N->right->requires_grad) {
      const auto found = index.find(N->right);
      if (found != index.end()) step.parameter = found->second;
    }
    if (step.parameter >= 0) {
      using Update = TrainingStep::Update;
      step.update = dynamic_cast<Dot*>(N)   ? Update::weights
                    : dynamic_cast<Add*>(N) ? Update::bias
                                            : Update::stored;
    }
    steps.push_back(step);
  }
  return steps;
}

void backward_updating(const std::vector<TrainingStep>& steps, const UpdateRule& rule,
                       bool keep_gradients) {
  using Update = TrainingStep::Update;
  for (const TrainingStep& step : steps) {
    Nodes& N = *step.node;
    const int p = step.parameter;
    if (step.update == Update::weights &&
        update_weights(static_cast<Dot&>(N), rule, p, keep_gradients)) {
      continue;
    }
    if (step.update == Update::bias && update_bias(N, rule, p, keep_gradients)) continue;
    backward_step(N);
    if (p < 0) continue;
    // Shapes that the fused updates do not take: the parameter's gradient is stored, and moves it.
    Nodes& P = *N.right;
    if (rule.sums == nullptr) {
      descend(P, rule.lr);
    } else {
      adagrad_update(P, (*rule.sums)[static_cast<std::size_t>(p)], rule.lr);
    }
  }
}

}  // namespace oscnet
