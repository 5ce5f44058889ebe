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

// Visits the tree below `root` depth first, operands before their node (left subtree, right
// subtree, node), iterating on `stack` instead of recursing, so that the depth of a network is
// limited by memory, not by the caller's thread stack.
template <typename Visit>
void visit_post_order(Nodes* root, std::vector<Pending>& stack, Visit visit) {
  const StackScope scope(stack);
  stack.push_back({root, false});
  while (stack.size() > scope.base()) {
    Pending& top = stack.back();
    Nodes* const current = top.node;
    if (top.expanded) {
      stack.pop_back();
      visit(current);
      continue;
    }
    top.expanded = true;
    // Pushed right first, so that the whole left subtree is visited before the right one.
    if (current->right != nullptr) stack.push_back({current->right, false});
    if (current->left != nullptr) stack.push_back({current->left, false});
  }
}

}  // namespace

// Shapes that do not agree cannot combine coefficient by coefficient; they multiply as matrices
// on the operand's side, as the general rule has it.
void Nodes::chain_stored(Nodes& operand) const {
  const MatrixXd& local = operand.local_grad;
  if (same_shape(grad, local)) {
    operand.grad = grad.cwiseProduct(local);
  } else if (&operand == left) {
    operand.grad.noalias() = grad * local;
  } else {
    operand.grad.noalias() = local * grad;
  }
}

// The stack is kept between calls, so evaluations do not allocate once it has grown to the
// depth of the tree.
Nodes* forward(Nodes* node) {
  if (node == nullptr) return nullptr;
  thread_local std::vector<Pending> stack;
  visit_post_order(node, stack, [](Nodes* current) { current->compute(); });
  return node;
}

void forward_order(Nodes* root, std::vector<Nodes*>& order) {
  if (root == nullptr) return;
  std::vector<Pending> stack;
  visit_post_order(root, stack, [&order](Nodes* current) {
    if (current->left != nullptr || current->right != nullptr) order.push_back(current);
  });
}

void evaluate(const std::vector<Nodes*>& order) {
  for (Nodes* node : order) node->compute();
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
