#pragma once

#include "nodes/nodes.h"

namespace oscnet {

/// Puts a dense layer of `units` units on `below`: weights drawn for every column of
/// `below`'s current value, then the product and the bias sum, both evaluated at once.
/// Returns the layer's sum node, which has no consumer yet. Weights and biases are normal
/// draws (mean 0, deviation 0.01) from one Mersenne Twister per process, seeded once from the
/// clock; weights are drawn column by column, then the bias.
/// If an allocation fails, the nodes made here are freed, `below` is left as it was and the
/// exception propagates.
Nodes* build_dense(Nodes* below, int units);

/// Puts the loss (output - target) and its squared norm over them; nothing is evaluated.
/// Returns the loss node. If an allocation fails, nothing made here survives.
Nodes* build_loss(Nodes* output, Nodes* target);

}  // namespace oscnet
