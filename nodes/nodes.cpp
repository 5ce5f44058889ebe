#include "nodes/nodes.h"

#include <cstddef>
#include <vector>

namespace oscnet {
namespace {

// A node waiting on the walk's stack; `expanded` once its operands have been pushed above it.
struct Pending {
  Nodes* node;
  bool expanded;
};

// Restores the shared stack to its depth on entry, also when a compute() throws.
class StackScope {
 public:
  explicit StackScope(std::vector<Pending>& stack) : stack_(stack), base_(stack.size()) {}
  ~StackScope() { stack_.resize(base_); }
  StackScope(const StackScope&) = delete;
  StackScope& operator=(const StackScope&) = delete;
  std::size_t base() const { return base_; }

 private:
  std::vector<Pending>& stack_;
  std::size_t base_;
};

}  // namespace

// Iterates with an explicit stack instead of recursing, so that the depth of a network is
// limited by memory, not by the caller's thread stack. The stack is kept between calls, so
// evaluations do not allocate once it has grown to the depth of the tree.
Nodes* forward(Nodes* node) {
  if (node == nullptr) return nullptr;
  thread_local std::vector<Pending> stack;
  const StackScope scope(stack);
  stack.push_back({node, false});
  while (stack.size() > scope.base()) {
    Pending& top = stack.back();
    Nodes* const current = top.node;
    if (top.expanded) {
      stack.pop_back();
      current->compute();
      continue;
    }
    top.expanded = true;
    // Pushed right first, so that the whole left subtree runs before the right one.
    if (current->right != nullptr) stack.push_back({current->right, false});
    if (current->left != nullptr) stack.push_back({current->left, false});
  }
  return node;
}

// Walks down through the operand links, unhooking each one as it is followed and noting the way
// back in the operand's consumer link; a node whose operands are both unhooked has had its whole
// subtree destroyed and goes next. Needs no memory and no recursion, and destroys in the same
// order as the recursive definition: left subtree, right subtree, node.
void release_graph(Nodes* node) {
  Nodes* current = node;
  while (current != nullptr) {
    if (Nodes* operand = current->left) {
      current->left = nullptr;
      operand->consumer = current;
      current = operand;
    } else if (Nodes* operand = current->right) {
      current->right = nullptr;
      operand->consumer = current;
      current = operand;
    } else {
      Nodes* const above = current == node ? nullptr : current->consumer;
      delete current;
      current = above;
    }
  }
}

}  // namespace oscnet
