#include <algorithm>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/builders.h"
#include "network/memory_estimate.h"

namespace oscnet {
namespace {

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

  Network& network = default_network();
  const std::lock_guard<NetworkMutex> lock(network.mutex);
  try {
    NetworkLayout layout;
    layout.inputs = *input_size;
    layout.outputs = *output_size;
    layout.units.assign(layer_units, layer_units + hidden);
    layout.codes.assign(activation_codes, activation_codes + hidden);
    network.build(layout, input_row, target_row, process_weight_stream(), nullptr, false);
    return true;
  } catch (...) {
    // The build leaves the network as it was.
    return false;
  }
}

}  // namespace oscnet
