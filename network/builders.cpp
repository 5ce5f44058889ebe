#include "network/builders.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <random>

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

Nodes* build_dense(Nodes* below, int units) {
  // One stream for the life of the library: releasing a network and building another continues
  // it, so two networks of one process never start alike.
  static std::mt19937 init_engine(static_cast<std::uint32_t>(std::time(nullptr)));
  static std::normal_distribution<double> init_dist(0.0, 0.01);

  Nodes* const previous_consumer = below->consumer;
  try {
    MatrixXd w(below->value.cols(), units);
    fill_with_draws(w, init_engine, init_dist);
    auto W = std::make_unique<Variable>(std::move(w));
    auto P = std::make_unique<Dot>(*below, *W);
    P->compute();

    MatrixXd b_row(1, P->value.cols());
    fill_with_draws(b_row, init_engine, init_dist);
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
