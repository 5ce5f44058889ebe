#pragma once

#include <cstdint>
#include <random>

#include "nodes/nodes.h"

namespace oscnet {

/// A stream of initial weights: normal draws (mean 0, deviation 0.01) from a Mersenne Twister.
struct WeightStream {
  explicit WeightStream(std::uint32_t seed) : engine(seed) {}
  std::mt19937 engine;
  std::normal_distribution<double> distribution{0.0, 0.01};
};

/// The stream of the process's default network, seeded from the clock when first used, that is
/// on the first layer built with it. Not synchronised: its users hold the default network's lock.
WeightStream& process_weight_stream();

/// Restarts the process's stream from `seed`, as if the clock had read that.
void seed_process_weight_stream(std::uint32_t seed);

/// Puts a dense layer of `units` units on `below`: weights drawn for every column of
/// `below`'s current value, then the product and the bias sum, both evaluated at once.
/// Returns the layer's sum node, which has no consumer yet. Weights and biases are normal
/// draws (mean 0, deviation 0.01) from one Mersenne Twister per process, seeded once from the
/// clock; weights are drawn column by column, then the bias.
/// If an allocation fails, the nodes made here are freed, `below` is left as it was and the
/// exception propagates.
Nodes* build_dense(Nodes* below, int units);

/// build_dense() drawing from `stream` instead of the process's stream.
Nodes* build_dense(Nodes* below, int units, WeightStream& stream);

/// Puts the loss (output - target) and its squared norm over them; nothing is evaluated.
/// Returns the loss node. If an allocation fails, nothing made here survives.
Nodes* build_loss(Nodes* output, Nodes* target);

}  // namespace oscnet
