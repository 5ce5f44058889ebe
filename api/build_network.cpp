#include <algorithm>
#include <utility>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/backward.h"
#include "network/builders.h"
#include "network/memory_estimate.h"
#include "nodes/activations.h"
#include "nodes/leaf_nodes.h"
#include "nodes/lee_osc.h"

namespace oscnet {
namespace {

// Puts the activation chosen by `code` on `layer`; codes outside 0..3 mean none.
Nodes* with_activation(Nodes* layer, int code) {
  switch (code) {
    case 0:
      return new ReLu(*layer);
    case 1:
      return new Sigmoid(*layer);
    case 2:
      return new Tanh(*layer);
    case 3:
      return new Lee_Osc(*layer);
    default:
      return layer;
  }
}

bool description_valid(const int* layer_count, const int* input_size, const int* output_size,
                       const double* input_row, const double* target_row, const int* layer_units,
                       const int* activation_codes) {
  if (!layer_count || !input_size || !output_size || !input_row || !target_row || !layer_units ||
      !activation_codes) {
    return false;
  }
  if (*input_size < 1 || *output_size < 1) return false;
  const int hidden = std::max(*layer_count, 1);
  return std::all_of(layer_units, layer_units + hidden, [](int units) { return units >= 1; });
}

}  // namespace

bool build_network(const int* layer_count, const int* input_size, const int* output_size,
                   const double* input_row, const double* target_row, const int* layer_units,
                   const int* activation_codes) {
  if (!description_valid(layer_count, input_size, output_size, input_row, target_row, layer_units,
                         activation_codes)) {
    return false;
  }
  const int hidden = std::max(*layer_count, 1);
  if (!fits_in_memory(estimate_network_bytes(*input_size, *output_size, layer_units, hidden))) {
    return false;
  }

  // The new network is built beside the current one, which stays untouched until the new one
  // is complete. `top` is the root of what is built so far and owns everything below it; the
  // target is owned here until the loss links it in.
  Nodes* top = nullptr;
  Nodes* target = nullptr;
  try {
    MatrixXd data_x(1, *input_size);
    MatrixXd data_y(1, *output_size);
    std::copy_n(input_row, *input_size, data_x.data());
    std::copy_n(target_row, *output_size, data_y.data());
    Nodes* const input = top = new Input(std::move(data_x));
    target = new Const(std::move(data_y));

    for (int l = 0; l < hidden; ++l) {
      top = build_dense(top, layer_units[l]);
      top = with_activation(top, activation_codes[l]);
    }
    Nodes* const output = top = build_dense(top, *output_size);
    Nodes* const loss = top = build_loss(output, target);
    Nodes* const linked_target = std::exchange(target, nullptr);  // the tree owns it now

    std::vector<Nodes*> collected;
    collect_params(loss, collected);
    EvaluationPlan made = make_plan(loss, output);

    // Nothing below can fail: retire the old network and install the new one.
    release_network();
    loss_node = loss;
    output_node = output;
    input_node = input;
    target_node = linked_target;
    parameters = std::move(collected);
    plan = std::move(made);
    return true;
  } catch (...) {
    release_graph(top);
    delete target;
    return false;
  }
}

}  // namespace oscnet
