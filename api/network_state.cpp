#include "api/network_state.h"

#include <algorithm>

#include "network/backward.h"

namespace oscnet {

Nodes* loss_node = nullptr;
Nodes* output_node = nullptr;
Nodes* input_node = nullptr;
Nodes* target_node = nullptr;
std::vector<Nodes*> parameters;

EvaluationPlan plan;

EvaluationPlan make_plan(Nodes* loss, Nodes* output) {
  EvaluationPlan made;
  forward_order(loss, made.forward);
  // The output node's subtree is the left part of the loss's, so it is evaluated first.
  const auto output_at = std::find(made.forward.begin(), made.forward.end(), output);
  made.output_steps = static_cast<std::size_t>(output_at - made.forward.begin()) + 1;
  backward_order(loss, made.backward);
  // Leaves pass nothing on: handling them does nothing.
  made.backward.erase(std::remove_if(made.backward.begin(), made.backward.end(),
                                     [](const Nodes* N) { return !N->left && !N->right; }),
                      made.backward.end());
  return made;
}

void release_network() noexcept {
  release_graph(loss_node);
  parameters.clear();
  plan = EvaluationPlan();
  // Cleared so that a later call finds no network instead of destroyed nodes.
  loss_node = nullptr;
  output_node = nullptr;
  input_node = nullptr;
  target_node = nullptr;
}

}  // namespace oscnet
