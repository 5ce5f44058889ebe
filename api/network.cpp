#include "api/network.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "network/backward.h"
#include "nodes/activations.h"
#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"
#include "nodes/linear_nodes.h"

namespace oscnet {
namespace {

// Puts the activation chosen by `code` on `layer`; codes outside 0..3 mean none. The source is
// made before the unit, so that nothing is linked to `layer` if making it fails.
Nodes* with_activation(Nodes* layer, int code, const std::uint32_t* lee_seed, int layer_index) {
  switch (code) {
    case 0:
      return new ReLu(*layer);
    case 1:
      return new Sigmoid(*layer);
    case 2:
      return new Tanh(*layer);
    case 3: {
      std::unique_ptr<LeeDrawSource> source;
      if (lee_seed != nullptr) {
        std::seed_seq seed{*lee_seed, static_cast<std::uint32_t>(layer_index)};
        source = std::make_unique<LeeDrawSource>(seed);
      }
      auto* unit = new Lee_Osc(*layer);
      unit->draws = std::move(source);
      return unit;
    }
    default:
      return layer;
  }
}

// Gives `m` the shape rows x cols; see reshape().
void shape(MatrixXd& m, Eigen::Index rows, Eigen::Index cols) {
  reshape(m, rows, cols);
}

}  // namespace

EvaluationPlan make_plan(Nodes* loss, Nodes* output, const std::vector<Nodes*>& parameters) {
  EvaluationPlan made;
  forward_order(loss, made.forward);
  // The output node's subtree is the left part of the loss's, so it is evaluated first.
  const auto output_at = std::find(made.forward.begin(), made.forward.end(), output);
  made.output_steps = static_cast<std::size_t>(output_at - made.forward.begin()) + 1;
  backward_order(loss, made.backward);
  // Leaves pass nothing on: handling them does nothing.
  made.backward.erase(std::remove_if(made.backward.begin(), made.backward.end(),
                                     [](const Nodes* N) { return !N->left && !N->right; }),
                      made.backward.end());
  made.training = training_steps(made.backward, parameters);
  made.dense = dense_layers({made.forward.begin(), made.forward.begin() + made.output_steps});
  return made;
}

// Bounds read once: compute() could write anything, so the compiler would reload them per node.
void evaluate_output_steps(const EvaluationPlan& plan) {
  if (!plan.dense.empty()) {
    evaluate_dense(plan.dense);
    return;
  }
  Nodes* const* step = plan.forward.data();
  for (Nodes* const* const end = step + plan.output_steps; step != end; ++step) (*step)->compute();
}

void run_training(EvaluationPlan& plan, Optimizer& optimizer, std::vector<MatrixXd>* sums,
                  int iterations, bool keep_last_gradients) {
  const UpdateRule rule{optimizer.lr, sums};
  for (int i = 0; i < iterations; ++i) {
    evaluate_output_steps(plan);
    // Then the loss's own steps.
    for (std::size_t k = plan.output_steps; k < plan.forward.size(); ++k) {
      plan.forward[k]->compute();
    }
    if (!plan.gradients_sized) {
      backward_along(plan.backward);
      optimizer.step();
      plan.gradients_sized = true;
    } else {
      backward_updating(plan.training, rule, keep_last_gradients && i == iterations - 1);
    }
  }
}

void Network::build(const NetworkLayout& layout, const double* input_row, const double* target_row,
                    WeightStream& weights, const std::uint32_t* lee_seed,
                    bool persistent_optimizers) {
  // The new network is built beside the current one, which stays untouched until the new one
  // is complete. `top` is the root of what is built so far and owns everything below it; the
  // target is owned here until the loss links it in.
  Nodes* top = nullptr;
  Nodes* target = nullptr;
  try {
    MatrixXd data_x(1, layout.inputs);
    MatrixXd data_y(1, layout.outputs);
    std::copy_n(input_row, layout.inputs, data_x.data());
    std::copy_n(target_row, layout.outputs, data_y.data());
    Nodes* const input = top = new Input(std::move(data_x));
    target = new Const(std::move(data_y));

    for (std::size_t l = 0; l < layout.units.size(); ++l) {
      top = build_dense(top, layout.units[l], weights);
      top = with_activation(top, layout.codes[l], lee_seed, static_cast<int>(l));
    }
    Nodes* const output = top = build_dense(top, layout.outputs, weights);
    Nodes* const loss = top = build_loss(output, target);
    Nodes* const linked_target = std::exchange(target, nullptr);  // the tree owns it now

    std::vector<Nodes*> collected;
    collect_params(loss, collected);
    EvaluationPlan made = make_plan(loss, output, collected);
    std::unique_ptr<G_D_Optimizer> descent;
    std::unique_ptr<Adagrad_Optimizer> adagrad;
    if (persistent_optimizers) {
      descent = std::make_unique<G_D_Optimizer>(collected, 0.0);
      adagrad = std::make_unique<Adagrad_Optimizer>(collected, 0.0);
    }

    // Nothing below can fail: retire the old network and install the new one.
    release();
    loss_node = loss;
    output_node = output;
    input_node = input;
    target_node = linked_target;
    parameters = std::move(collected);
    plan = std::move(made);
    descent_ = std::move(descent);
    adagrad_ = std::move(adagrad);
  } catch (...) {
    release_graph(top);
    delete target;
    throw;
  }
}

void Network::release() noexcept {
  release_graph(loss_node);
  parameters.clear();
  plan = EvaluationPlan();
  descent_.reset();
  adagrad_.reset();
  full_block_ = Block();
  last_block_ = Block();
  // Cleared so that a later call finds no network instead of destroyed nodes.
  loss_node = nullptr;
  output_node = nullptr;
  input_node = nullptr;
  target_node = nullptr;
}

double Network::train_steps(int iterations, double learning_rate, bool adagrad) {
  Optimizer& rule = adagrad ? static_cast<Optimizer&>(*adagrad_) : *descent_;
  rule.lr = learning_rate;
  // Nothing reads a handle's gradients, so none are stored.
  run_training(plan, rule, adagrad ? &adagrad_->accum : nullptr, iterations, false);
  const MatrixXd& loss = loss_node->value;
  return loss.size() > 0 ? loss(0, 0) : std::numeric_limits<double>::quiet_NaN();
}

void Network::reset_optimizer() {
  if (!adagrad_) return;
  for (MatrixXd& sums : adagrad_->accum) sums.setZero();
}

void Network::evaluate_output() {
  evaluate_output_steps(plan);
}

void Network::shape_block(Block& block, int rows) const {
  const std::size_t steps = plan.output_steps;
  block.values.resize(steps);
  block.rows_in.resize(steps);
  block.rows_out.resize(steps);
  for (std::size_t k = 0; k < steps; ++k) {
    const Nodes* node = plan.forward[k];
    shape(block.values[k], rows, node->value.cols());
    if (dynamic_cast<const Dot*>(node) != nullptr) {
      shape(block.rows_in[k], 1, node->left->value.cols());
      shape(block.rows_out[k], 1, node->right->value.cols());
    }
  }
  shape(block.input, rows, input_width());
}

void Network::evaluate_block(Block& block, const double* input_rows, int rows,
                             double* output_rows) noexcept {
  const std::size_t steps = plan.output_steps;
  // The block's matrices take the nodes' places for the evaluation: swapping moves no data, and
  // swapping back leaves every node's own matrix, and its storage, as it was.
  auto swap_places = [&] {
    for (std::size_t k = 0; k < steps; ++k) plan.forward[k]->value.swap(block.values[k]);
    input_node->value.swap(block.input);
  };
  swap_places();
  MatrixXd& x = input_node->value;
  const Eigen::Index in_width = x.cols();
  for (int i = 0; i < rows; ++i) {
    for (Eigen::Index j = 0; j < in_width; ++j) x(i, j) = input_rows[i * in_width + j];
  }
  for (std::size_t k = 0; k < steps; ++k) {
    Nodes* node = plan.forward[k];
    if (auto* product = dynamic_cast<Dot*>(node)) {
      product->compute_rows_as_single(block.rows_in[k], block.rows_out[k]);
    } else {
      node->compute();
    }
  }
  const MatrixXd& y = output_node->value;
  const Eigen::Index out_width = y.cols();
  for (int i = 0; i < rows; ++i) {
    for (Eigen::Index j = 0; j < out_width; ++j) output_rows[i * out_width + j] = y(i, j);
  }
  swap_places();
}

void Network::evaluate_rows(const double* input_rows, int row_count, double* output_rows) {
  if (row_count <= 0) return;
  // Both blocks are shaped before the first row is evaluated, so that running out of memory
  // leaves the network, oscillator draws included, as it was.
  const int full_rows = std::min(row_count, kBlockRows);
  const int last_rows = row_count > kBlockRows ? row_count % kBlockRows : 0;
  shape_block(full_block_, full_rows);
  if (last_rows > 0) shape_block(last_block_, last_rows);

  const Eigen::Index in_width = input_width();
  const Eigen::Index out_width = output_width();
  for (int done = 0; done < row_count;) {
    const int rows = std::min(row_count - done, kBlockRows);
    Block& block = rows == full_rows ? full_block_ : last_block_;
    evaluate_block(block, input_rows + done * in_width, rows, output_rows + done * out_width);
    done += rows;
  }
}

std::int64_t Network::weights_count() const {
  std::int64_t total = 0;
  for (const Nodes* parameter : parameters) total += parameter->value.size();
  return total;
}

void Network::get_weights(double* out) const {
  // Eigen stores each matrix column by column, which is the order the host sees.
  for (const Nodes* parameter : parameters) {
    out = std::copy_n(parameter->value.data(), parameter->value.size(), out);
  }
}

void Network::set_weights(const double* in) {
  for (Nodes* parameter : parameters) {
    const Eigen::Index size = parameter->value.size();
    std::copy_n(in, size, parameter->value.data());
    in += size;
  }
}

}  // namespace oscnet
