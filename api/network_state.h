#pragma once

#include <vector>

#include "api/network.h"
#include "nodes/nodes.h"

namespace oscnet {

/// The process's default network, on which the five functions and the oscnet_*_params
/// functions act. Its lock serialises them.
Network& default_network();

// The default network's members under their earlier names. The four node pointers are
// non-owning views into the tree rooted at loss_node; all are null while no network is built.
extern Nodes*& loss_node;
extern Nodes*& output_node;
extern Nodes*& input_node;
extern Nodes*& target_node;
/// Every Variable of the network, in collection order (non-owning).
extern std::vector<Nodes*>& parameters;
extern EvaluationPlan& plan;

/// Destroys the default network, taking its lock; does nothing when none is built.
void release_network() noexcept;

/// Whether the default network is built.
inline bool network_built() {
  return loss_node != nullptr;
}

/// Whether a caller's row of `size` values at `row` can be used against a leaf `width` wide:
/// a size from 0 to the width, and an array unless the size is 0.
inline bool row_fits(int size, const double* row, Eigen::Index width) {
  return size >= 0 && size <= width && (row != nullptr || size == 0);
}

}  // namespace oscnet
