#include "nodes/nodes.h"

namespace oscnet {

Nodes* forward(Nodes* node) {
  if (node == nullptr) return nullptr;
  forward(node->left);
  forward(node->right);
  node->compute();
  return node;
}

void release_graph(Nodes* node) {
  if (node == nullptr) return;
  release_graph(node->left);
  release_graph(node->right);
  delete node;
}

}  // namespace oscnet
