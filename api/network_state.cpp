#include "api/network_state.h"

namespace oscnet {

Nodes* loss_node = nullptr;
Nodes* output_node = nullptr;
Nodes* input_node = nullptr;
Nodes* target_node = nullptr;
std::vector<Nodes*> parameters;

void release_network() noexcept {
  release_graph(loss_node);
  parameters.clear();
  // Cleared so that a later call finds no network instead of destroyed nodes.
  loss_node = nullptr;
  output_node = nullptr;
  input_node = nullptr;
  target_node = nullptr;
}

}  // namespace oscnet
