#include "network/builders.h"

#include <cstdint>
#include <ctime>
#include <memory>

#include "nodes/f_norm.h"
#include "nodes/leaf_nodes.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// Fills `m` in storage order: down each column, columns left to right.
template <typename Engine, typename Distribution>
void fill_with_draws(MatrixXd& m, Engine& engine, Distribution& distribution) {
  for (Eigen::Index k = 0; k < m.size(); ++k) m.data()[k] = distribution(engine);
}

}  // namespace

WeightStream& process_weight_stream() {
  // One stream for the life of the library: releasing a network and building another continues
  // it, so two networks of one process never start alike.
  static WeightStream stream(static_cast<std::uint32_t>(std::time(nullptr)));
  return stream;
}

void seed_process_weight_stream(std::uint32_t seed) {
  process_weight_stream() = WeightStream(seed);
}

Nodes* build_dense(Nodes* below, int units) {
  return build_dense(below, units, process_weight_stream());
}

Nodes* build_dense(Nodes* below, int units, WeightStream& stream) {
  Nodes* const previous_consumer = below->consumer;
  try {
    MatrixXd w(below->value.cols(), units);
    fill_with_draws(w, stream.engine, stream.distribution);
    auto W = std::make_unique<Variable>(std::move(w));
    auto P = std::make_unique<Dot>(*below, *W);
    P->compute();

    MatrixXd b_row(1, P->value.cols());
    fill_with_draws(b_row, stream.engine, stream.distribution);
    auto b = std::make_unique<Variable>(std::move(b_row));
    auto S = std::make_unique<Add>(*P, *b);
    S->compute();

    // From here on the tree owns them.
    W.release();
    P.release();
    b.release();
    return S.release();
  } catch (...) {
    below->consumer = previous_consumer;
    throw;
  }
}

Nodes* build_loss(Nodes* output, Nodes* target) {
  Nodes* const previous_output_consumer = output->consumer;
  Nodes* const previous_target_consumer = target->consumer;
  try {
    auto D = std::make_unique<Minus>(*output, *target);
    auto* L = new F_Norm(*D);
    D.release();
    return L;
  } catch (...) {
    output->consumer = previous_output_consumer;
    target->consumer = previous_target_consumer;
    throw;
  }
}

}  // namespace oscnet
