#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "api/network_mutex.h"
#include "network/builders.h"
#include "network/dense_layers.h"
#include "network/optimizer.h"
#include "network/training_pass.h"
#include "nodes/nodes.h"

namespace oscnet {

/// The order of evaluation of a network, worked out once when it is built: the nodes with
/// operands as forward() from the loss computes them (the first `output_steps` of them
/// evaluate the output node), and as backward() from the loss handles them.
/// The backward order again as the training pass takes it, with the parameters it updates.
struct EvaluationPlan {
  std::vector<Nodes*> forward;
  std::size_t output_steps = 0;
  std::vector<Nodes*> backward;
  std::vector<TrainingStep> training;
  /// The output's steps as layers, for the single-row pass; empty when they are not all layers.
  std::vector<DenseLayer> dense;
  /// Whether a general pass has given every gradient its shape, so that training passes that
  /// move parameters as they go allocate nothing.
  bool gradients_sized = false;
};

/// The plan of the network rooted at `loss`, whose output node is `output` and whose parameters
/// are `parameters`.
EvaluationPlan make_plan(Nodes* loss, Nodes* output, const std::vector<Nodes*>& parameters);

/// Evaluates the output's steps of `plan`, layer by layer where it has layers.
void evaluate_output_steps(const EvaluationPlan& plan);

/// `iterations` steps of forward, backward and `optimizer`'s update along `plan`. `sums` are the
/// optimizer's Adagrad sums (null for gradient descent). With `keep_last_gradients` the last step
/// leaves every gradient stored as the general pass stores it, for callers that read them; without,
/// weight gradients are never written. The first pass of a plan sizes every gradient before any
/// parameter moves, so that running out of memory leaves the parameters as they were.
void run_training(EvaluationPlan& plan, Optimizer& optimizer, std::vector<MatrixXd>* sums,
                  int iterations, bool keep_last_gradients);

/// What a network is made of: widths, and per hidden layer its units and activation code
/// (0 rectifier, 1 logistic, 2 tanh(6x), 3 Lee oscillator, anything else none).
struct NetworkLayout {
  int inputs = 0;
  int outputs = 0;
  std::vector<int> units;
  std::vector<int> codes;
};

/// A network and everything carried from call to call on it. The members are not synchronised:
/// every caller holds `mutex` for the whole of its call.
class Network {
 public:
  /// Rows that one evaluation of predict_rows takes at most, so that its memory stays bounded.
  static constexpr int kBlockRows = 256;

  Network() = default;
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;
  ~Network() { release(); }

  /// Builds the layers of `layout` on one example row and installs them in place of the current
  /// network, which stays as it was if an allocation fails (the exception propagates). Weights
  /// come from `weights`. With `lee_seed`, each oscillator unit draws from a generator of its
  /// own, seeded with std::seed_seq{*lee_seed, layer index}; otherwise from rand(). With
  /// `persistent_optimizers`, train_steps reuses optimizers made here (allocation-free calls,
  /// Adagrad's sums kept across calls).
  void build(const NetworkLayout& layout, const double* input_row, const double* target_row,
             WeightStream& weights, const std::uint32_t* lee_seed, bool persistent_optimizers);

  /// Destroys the network and clears every reference to it; does nothing when none is built.
  void release() noexcept;

  bool built() const { return loss_node != nullptr; }
  Eigen::Index input_width() const { return input_node->value.cols(); }
  Eigen::Index output_width() const { return output_node->value.cols(); }

  /// `iterations` (>= 1) steps of forward, backward and update on the example held in the
  /// leaves, with the persistent optimizers made by build. Returns the loss before the last step.
  double train_steps(int iterations, double learning_rate, bool adagrad);
  /// Zeroes Adagrad's sums of squared gradients.
  void reset_optimizer();
  /// Evaluates the output node on the input held in the input leaf.
  void evaluate_output();
  /// Evaluates `row_count` input rows at `input_rows` (row-major) into `output_rows`, block by
  /// block; each row's outputs are those evaluate_output() gives it when taken alone, and
  /// oscillator units take their draws in the same order. The nodes' own matrices are left as
  /// they were. Throws std::bad_alloc before evaluating anything when the scratch matrices
  /// cannot be made.
  void evaluate_rows(const double* input_rows, int row_count, double* output_rows);

  /// Doubles in all parameters, 64-bit so that a huge network cannot wrap the sum.
  std::int64_t weights_count() const;
  void get_weights(double* out) const;
  void set_weights(const double* in);

  // The network, carried from call to call. The four node pointers are non-owning views into
  // the tree rooted at loss_node; all are null while no network is built.
  Nodes* loss_node = nullptr;
  Nodes* output_node = nullptr;
  Nodes* input_node = nullptr;
  Nodes* target_node = nullptr;
  /// Every Variable of the network, in collection order (non-owning).
  std::vector<Nodes*> parameters;
  EvaluationPlan plan;

  /// Serialises the calls on this network.
  mutable NetworkMutex mutex;

 private:
  // Made by build when asked for: the learning rate is set on every call.
  std::unique_ptr<G_D_Optimizer> descent_;
  std::unique_ptr<Adagrad_Optimizer> adagrad_;
  // The matrices a block of rows is evaluated in: one per node of the output's subtree that has
  // operands, scratch rows for the products, and the input block.
  struct Block {
    std::vector<MatrixXd> values;
    std::vector<MatrixXd> rows_in;
    std::vector<MatrixXd> rows_out;
    MatrixXd input;
  };
  // Gives `block` the shapes of a block of `rows` rows; may throw std::bad_alloc.
  void shape_block(Block& block, int rows) const;
  // Evaluates `rows` rows in `block`, shaped for them already.
  void evaluate_block(Block& block, const double* input_rows, int rows,
                      double* output_rows) noexcept;

  Block full_block_;  // blocks of kBlockRows rows, or all of a call's rows when fewer
  Block last_block_;  // the remainder of a call of more than kBlockRows rows
};

}  // namespace oscnet
