#pragma once

#include <vector>

#include "nodes/nodes.h"

namespace oscnet {

/// value -= lr * G for the gradient G of `P` (its own, or the column sums of a bias fed several
/// rows). A parameter without a usable gradient is left alone.
void descend(Nodes& P, double lr);

/// Adagrad's update of `P` with its sums of squared gradients `A`: A += G^2, then
/// value -= lr * G / sqrt(A + 1e-10). Left alone where A does not fit the gradient.
void adagrad_update(Nodes& P, MatrixXd& A, double lr);

/// An update rule over a fixed list of parameters. Used as an object of its concrete class;
/// the destructor frees the list copy only, never the nodes.
class Optimizer {
 public:
  /// One update of every parameter from the gradient the backward pass left in it.
  virtual void step() {}

  double lr = 0.0;             ///< learning rate, fixed for the optimizer's life
  std::vector<Nodes*> params;  ///< copy of the parameter list it was made from (non-owning)

 protected:
  Optimizer(const std::vector<Nodes*>& list, double learning_rate)
      : lr(learning_rate), params(list) {}
};

/// Plain gradient descent: value -= lr * gradient.
class G_D_Optimizer final : public Optimizer {
 public:
  G_D_Optimizer(const std::vector<Nodes*>& list, double learning_rate)
      : Optimizer(list, learning_rate) {}
  void step() override;
};

/// Adagrad: each coefficient moves by lr * g / sqrt(sum of its squared gradients + 1e-10).
class Adagrad_Optimizer final : public Optimizer {
 public:
  /// Starts every accumulator at zero, shaped like its parameter's value.
  Adagrad_Optimizer(const std::vector<Nodes*>& list, double learning_rate);
  void step() override;

  std::vector<MatrixXd> accum;  ///< running sums of squared gradients, one per parameter
};

}  // namespace oscnet
