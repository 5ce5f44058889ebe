#pragma once

#include <vector>

#include "nodes/nodes.h"

namespace oscnet {

/// A node of the training pass's backward order, with the parameter that is its right operand,
/// by index into the parameter list (-1: none), and how that parameter moves.
struct TrainingStep {
  enum class Update {
    none,     ///< no parameter
    weights,  ///< a layer's weights, under its product
    bias,     ///< a layer's bias, under its sum
    stored,   ///< another node's: from the gradient stored by the general step
  };
  Nodes* node = nullptr;
  int parameter = -1;
  Update update = Update::none;
};

/// The steps of the training pass along `order` (as backward_along() takes it), for the
/// parameter list `parameters`.
std::vector<TrainingStep> training_steps(const std::vector<Nodes*>& order,
                                         const std::vector<Nodes*>& parameters);

/// How the training pass moves a parameter: gradient descent, or Adagrad with one matrix of sums
/// of squared gradients per parameter, in the parameter list's order.
struct UpdateRule {
  double lr = 0.0;
  std::vector<MatrixXd>* sums = nullptr;  ///< null: gradient descent
};

/// backward_along() and the rule's step over all parameters in one pass: each parameter moves as
/// soon as its gradient is final, taken coefficient by coefficient in the same operations on the
/// same values as the optimizers take it, so the weights come out bit for bit the same, without
/// storing the weight gradients and reading them back. With `keep_gradients` the parameters and
/// the input are left with the gradients that backward_along() gives them; without, the
/// parameters' gradients are not stored and the input's, which nothing reads, is not computed.
/// Requires every gradient to have its shape already (a general pass has run), so that nothing
/// is allocated once a parameter has moved.
void backward_updating(const std::vector<TrainingStep>& steps, const UpdateRule& rule,
                       bool keep_gradients);

}  // namespace oscnet
