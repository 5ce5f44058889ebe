#pragma once

#include <vector>

#include "nodes/nodes.h"

namespace oscnet {

/// Appends every parameter below `node` to `list`, node before left subtree before right
/// subtree: for a built network, layer by layer, each layer's weights before its bias.
void collect_params(Nodes* node, std::vector<Nodes*>& list);

/// Reverse-mode pass from the root `loss`, breadth first: each reached node runs backprop and
/// hands each operand that requires a gradient its share, combined by its chain_stored. The first
/// pass seeds the root's gradient with ones shaped like its operand. `Q` is scratch storage for
/// the queue, kept by the caller so that repeated passes reuse it. A null root, or one without
/// operands, is left untouched.
void backward(Nodes* loss, std::vector<Nodes*>& Q);

/// Lists the nodes that backward() from `loss` handles, in the order it handles them: the
/// queue's order, fixed for a given tree. Replaces what `order` held.
void backward_order(Nodes* loss, std::vector<Nodes*>& order);

/// backward() over a tree whose order backward_order() worked out once, faster: where a node can,
/// it hands its operands their gradients directly (chain_to_operands) instead of storing its
/// local derivatives first, so those are not written. Requires current values, as backward()
/// does. The gradients are those backward() gives, up to the order in which a matrix product
/// sums its terms.
void backward_along(const std::vector<Nodes*>& order);

/// One node of backward_along(): the pass seen from a single node, for passes that handle some
/// nodes themselves.
void backward_step(Nodes& N);

/// backward() with a queue of its own.
void backward(Nodes* loss);

/// The chain rule for one operand of a consumer known only by its flag, into `result`: the
/// coefficient-wise product of `grad` and `local_grad` when their shapes agree and the consumer is
/// not a matrix product, otherwise grad * local_grad for the left operand (side 'l') and local_grad
/// * grad for the right. `result` must be neither argument.
void chain_grad(const MatrixXd& grad, const MatrixXd& local_grad, char side, bool is_matmul,
                MatrixXd& result);

/// chain_grad() into a new matrix.
MatrixXd chain_grad(const MatrixXd& grad, const MatrixXd& local_grad, char side, bool is_matmul);

}  // namespace oscnet
