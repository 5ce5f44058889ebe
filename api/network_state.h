#pragma once

#include <cstddef>
#include <vector>

#include "nodes/nodes.h"

namespace oscnet {

// The one network of the process, carried from call to call. The four node pointers are
// non-owning views into the tree rooted at loss_node; all are null while no network is built.
extern Nodes* loss_node;
extern Nodes* output_node;
extern Nodes* input_node;
extern Nodes* target_node;
/// Every Variable of the network, in collection order (non-owning).
extern std::vector<Nodes*> parameters;

/// The order of evaluation of the network, worked out once when it is built: the nodes with
/// operands as forward() from the loss computes them (the first `output_steps` of them
/// evaluate the output node), and as backward() from the loss handles them.
struct EvaluationPlan {
  std::vector<Nodes*> forward;
  std::size_t output_steps = 0;
  std::vector<Nodes*> backward;
};
extern EvaluationPlan plan;

/// The plan of the network rooted at `loss`, whose output node is `output`.
EvaluationPlan make_plan(Nodes* loss, Nodes* output);

/// Destroys the network and clears every reference to it; does nothing when none is built.
void release_network() noexcept;

/// Whether a network is built.
inline bool network_built() {
  return loss_node != nullptr;
}

/// Whether a caller's row of `size` values at `row` can be used against a leaf `width` wide:
/// a size from 0 to the width, and an array unless the size is 0.
inline bool row_fits(int size, const double* row, Eigen::Index width) {
  return size >= 0 && size <= width && (row != nullptr || size == 0);
}

}  // namespace oscnet
