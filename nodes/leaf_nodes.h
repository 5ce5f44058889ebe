#pragma once

#include <utility>

#include "nodes/nodes.h"

namespace oscnet {

/// The network's input row; written from outside before each evaluation.
class Input : public Nodes {
 public:
  explicit Input(MatrixXd initial) { value = std::move(initial); }
};

/// Constant data that no gradient reaches (the training target).
class Const : public Nodes {
 public:
  explicit Const(MatrixXd initial) {
    value = std::move(initial);
    requires_grad = false;
  }
};

/// A trainable parameter: a weight matrix or a bias row, updated by the optimizers.
class Variable : public Nodes {
 public:
  explicit Variable(MatrixXd initial) {
    value = std::move(initial);
    is_param = true;
  }
};

}  // namespace oscnet
