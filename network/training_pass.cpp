#include "network/training_pass.h"

#include <cmath>
#include <unordered_map>

#include "network/backward.h"
#include "network/optimizer.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// Moves `count` coefficients of `value` by their gradients `gradient(k)`, as descend() and
// adagrad_update() move them from a stored gradient; `kept`, when not null, receives the
// gradients.
template <typename Gradient>
void move(double* value, double* sums, double lr, Eigen::Index count, Gradient gradient,
          double* kept) {
  for (Eigen::Index k = 0; k < count; ++k) {
    const double G = gradient(k);
    if (kept != nullptr) kept[k] = G;
    if (sums != nullptr) {
      sums[k] = sums[k] + G * G;
      value[k] = value[k] - lr * (G / std::sqrt(sums[k] + 1e-10));
    } else {
      value[k] = value[k] - lr * G;
    }
  }
}

// The sums of squared gradients of parameter `p`, when they fit it; `fits` false otherwise.
double* sums_of(const UpdateRule& rule, int p, const MatrixXd& value, bool& fits) {
  fits = true;
  if (rule.sums == nullptr) return nullptr;
  MatrixXd& A = (*rule.sums)[static_cast<std::size_t>(p)];
  fits = same_shape(A, value);
  return A.data();
}

// A layer's product x W, one row: the input's gradient first, with W as it was, then each
// weight moves by its gradient x_i g_j. Returns false, doing nothing, for other shapes.
bool update_weights(Dot& product, const UpdateRule& rule, int p, bool keep_gradients) {
  Nodes& W = *product.right;
  const MatrixXd& x = product.left->value;
  if (x.rows() != 1 || !product.shapes_chain()) return false;
  bool fits = false;
  double* const sums = sums_of(rule, p, W.value, fits);
  if (!fits) return false;
  // A leaf's gradient is read by nothing in the pass.
  const Nodes& below = *product.left;
  if (keep_gradients || below.left != nullptr || below.right != nullptr) product.chain_to_left();
  const Eigen::Index n = W.value.rows(), u = W.value.cols();
  double* kept = nullptr;
  if (keep_gradients) {
    reshape(W.grad, n, u);
    kept = W.grad.data();
  }
  const double* in = x.data();
  const double* g = product.grad.data();
  for (Eigen::Index j = 0; j < u; ++j) {
    const double gj = g[j];
    const Eigen::Index at = j * n;
    move(
        W.value.data() + at, sums == nullptr ? nullptr : sums + at, rule.lr, n,
        [in, gj](Eigen::Index i) { return in[i] * gj; }, kept == nullptr ? nullptr : kept + at);
  }
  return true;
}

// A layer's sum z + b, one row: z's gradient is this one, and so is the bias's. Returns false,
// doing nothing, for other shapes.
bool update_bias(Nodes& sum, const UpdateRule& rule, int p, bool keep_gradients) {
  Nodes& b = *sum.right;
  const MatrixXd& g = sum.grad;
  if (!same_shape(g, sum.left->value) || !same_shape(g, b.value)) return false;
  bool fits = false;
  double* const sums = sums_of(rule, p, b.value, fits);
  if (!fits) return false;
  if (sum.left->requires_grad) sum.left->grad = g;
  if (keep_gradients) b.grad = g;
  const double* down = g.data();
  move(
      b.value.data(), sums, rule.lr, b.value.size(), [down](Eigen::Index j) { return down[j]; },
      nullptr);
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
