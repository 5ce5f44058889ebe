#include "network/backward.h"

namespace oscnet {

// Iterates with an explicit stack, so that deep networks cannot exhaust the thread's stack.
void collect_params(Nodes* node, std::vector<Nodes*>& list) {
  std::vector<Nodes*> pending{node};
  while (!pending.empty()) {
    Nodes* const current = pending.back();
    pending.pop_back();
    if (current == nullptr) continue;
    if (current->is_param) list.push_back(current);
    // Right below left, so that the left subtree is listed first.
    pending.push_back(current->right);
    pending.push_back(current->left);
  }
}

void chain_grad(const MatrixXd& grad, const MatrixXd& local_grad, char side, bool is_matmul,
                MatrixXd& result) {
  if (!is_matmul && same_shape(grad, local_grad)) {
    result = grad.cwiseProduct(local_grad);
  } else if (side == 'l') {
    result.noalias() = grad * local_grad;
  } else {
    result.noalias() = local_grad * grad;
  }
}

MatrixXd chain_grad(const MatrixXd& grad, const MatrixXd& local_grad, char side, bool is_matmul) {
  MatrixXd result;
  chain_grad(grad, local_grad, side, is_matmul, result);
  return result;
}

namespace {

bool receives_grad(const Nodes* operand) {
  return operand != nullptr && operand->requires_grad;
}

// One node of the pass: its local derivatives, chained into its operands' gradients. A node
// may hand its operands their gradients directly when `direct` allows it.
void handle(Nodes& N, bool direct) {
  // A gradient without rows was never assigned: this is the root on its first pass.
  const bool seeding = N.grad.rows() == 0;
  if (seeding && N.left != nullptr) N.grad.setOnes(N.left->value.rows(), N.left->value.cols());
  if (direct && !seeding && N.chain_to_operands()) return;
  N.backprop();
  for (Nodes* operand : {N.left, N.right}) {
    if (!receives_grad(operand)) continue;
    if (seeding) {
      operand->grad = operand->local_grad;
    } else {
      N.chain_stored(*operand);
    }
  }
}

}  // namespace

void backward_order(Nodes* loss, std::vector<Nodes*>& order) {
  order.clear();
  if (loss == nullptr || (loss->left == nullptr && loss->right == nullptr)) return;
  order.push_back(loss);
  // First in, first out: the vector only grows and `front` walks along it, which lists the
  // nodes level by level exactly as a queue would hand them out.
  for (std::size_t front = 0; front < order.size(); ++front) {
    const Nodes& N = *order[front];
    if (receives_grad(N.left)) order.push_back(N.left);
    if (receives_grad(N.right)) order.push_back(N.right);
  }
}

void backward_along(const std::vector<Nodes*>& order) {
  for (Nodes* N : order) handle(*N, true);
}

void backward_step(Nodes& N) {
  handle(N, true);
}

void backward(Nodes* loss, std::vector<Nodes*>& Q) {
  backward_order(loss, Q);
  for (Nodes* N : Q) handle(*N, false);
  Q.clear();
}

void backward(Nodes* loss) {
  std::vector<Nodes*> Q;
  backward(loss, Q);
}

}  // namespace oscnet
