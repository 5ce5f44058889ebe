#include "api/handles.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>
#include <memory>

#include <new>
#include <vector>

#include "api/last_error.h"
#include "network/memory_estimate.h"

namespace oscnet {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Lock = std::lock_guard<NetworkMutex>;

void fill_nan(double* values, std::int64_t count) {
  if (values != nullptr) std::fill_n(values, count, kNaN);
}

// Whether a handle was given; records the failure of `function` when not.
bool have_handle(const oscnet_network* net, const char* function) {
  if (net != nullptr) return true;
  set_last_error("%s: net is NULL", function);
  return false;
}

// Whether `n` values at `values` match the network's weights exactly.
bool transfer_fits(const oscnet_network* net, const void* values, int n, const char* function,
                   const char* array) {
  if (!have_handle(net, function)) return false;
  if (values == nullptr) {
    set_last_error("%s: %s is NULL", function, array);
    return false;
  }
  const std::int64_t count = net->network.weights_count();
  if (n != count) {
    set_last_error("%s: n must be the weights count %lld, got %d", function,
                   static_cast<long long>(count), n);
    return false;
  }
  return true;
}

}  // namespace

oscnet_network* create_network(int input_size, int output_size, int layer_count,
                               const int* layer_units, const int* activation_codes,
                               unsigned int seed) noexcept {
  clear_last_error();
  static const char* const function = "oscnet_create";
  if (input_size < 1 || output_size < 1) {
    set_last_error("%s: input_size and output_size must be at least 1, got %d and %d", function,
                   input_size, output_size);
    return nullptr;
  }
  if (layer_count < 1) {
    set_last_error("%s: layer_count must be at least 1, got %d", function, layer_count);
    return nullptr;
  }
  if (layer_units == nullptr || activation_codes == nullptr) {
    set_last_error("%s: %s is NULL", function,
                   layer_units == nullptr ? "layer_units" : "activation_codes");
    return nullptr;
  }
  for (int l = 0; l < layer_count; ++l) {
    if (layer_units[l] < 1) {
      set_last_error("%s: layer_units[%d] must be at least 1, got %d", function, l, layer_units[l]);
      return nullptr;
    }
  }
  const std::uint64_t needed =
      estimate_network_bytes(input_size, output_size, layer_units, layer_count);
  const MemoryLimit limit = memory_limit();
  if (limit.bytes != 0 && needed > limit.bytes) {
    constexpr std::uint64_t kMiB = 1 << 20;
    set_last_error(
        "%s: the network would need about %llu MiB, over the memory limit of %llu MiB (%s)",
        function, static_cast<unsigned long long>(needed / kMiB + (needed % kMiB != 0)),
        static_cast<unsigned long long>(limit.bytes / kMiB), limit.source);
    return nullptr;
  }
  try {
    NetworkLayout layout;
    layout.inputs = input_size;
    layout.outputs = output_size;
    layout.units.assign(layer_units, layer_units + layer_count);
    layout.codes.assign(activation_codes, activation_codes + layer_count);
    const std::vector<double> zeros(static_cast<std::size_t>(std::max(input_size, output_size)));
    auto net = std::make_unique<oscnet_network>();
    WeightStream weights(seed);
    const std::uint32_t lee_seed = seed;
    net->network.build(layout, zeros.data(), zeros.data(), weights, &lee_seed, true);
    return net.release();
  } catch (...) {
    set_last_error("%s: out of memory", function);
    return nullptr;
  }
}

void destroy_network(oscnet_network* net) noexcept {
  clear_last_error();
  delete net;
}

int network_input_size(const oscnet_network* net) noexcept {
  clear_last_error();
  if (!have_handle(net, "oscnet_input_size")) return -1;
  return static_cast<int>(net->network.input_width());
}

int network_output_size(const oscnet_network* net) noexcept {
  clear_last_error();
  if (!have_handle(net, "oscnet_output_size")) return -1;
  return static_cast<int>(net->network.output_width());
}

double train_handle(oscnet_network* net, const double* input_row, const double* target_row,
                    int iterations, double learning_rate, int optimizer_code) noexcept {
  clear_last_error();
  static const char* const function = "oscnet_train";
  if (!have_handle(net, function)) return kNaN;
  if (input_row == nullptr || target_row == nullptr) {
    set_last_error("%s: %s is NULL", function, input_row == nullptr ? "input_row" : "target_row");
    return kNaN;
  }
  if (iterations < 1) {
    set_last_error("%s: iterations must be at least 1, got %d", function, iterations);
    return kNaN;
  }
  if (optimizer_code != OSCNET_GRADIENT_DESCENT && optimizer_code != OSCNET_ADAGRAD) {
    set_last_error(
        "%s: optimizer_code must be OSCNET_GRADIENT_DESCENT (0) or OSCNET_ADAGRAD (1), "
        "got %d",
        function, optimizer_code);
    return kNaN;
  }
  Network& network = net->network;
  const Lock lock(network.mutex);
  try {
    std::copy_n(input_row, network.input_width(), network.input_node->value.data());
    std::copy_n(target_row, network.output_width(), network.target_node->value.data());
    return network.train_steps(iterations, learning_rate, optimizer_code == OSCNET_ADAGRAD);
  } catch (...) {
    set_last_error("%s: out of memory", function);
    return kNaN;
  }
}

int reset_handle_optimizer(oscnet_network* net) noexcept {
  clear_last_error();
  if (!have_handle(net, "oscnet_reset_optimizer")) return OSCNET_ERROR_ARGUMENT;
  const Lock lock(net->network.mutex);
  net->network.reset_optimizer();
  return OSCNET_OK;
}

int predict_handle(oscnet_network* net, const double* input_row, double* output_row) noexcept {
  clear_last_error();
  static const char* const function = "oscnet_predict";
  if (!have_handle(net, function)) return OSCNET_ERROR_ARGUMENT;
  Network& network = net->network;
  if (input_row == nullptr || output_row == nullptr) {
    fill_nan(output_row, network.output_width());
    set_last_error("%s: %s is NULL", function, input_row == nullptr ? "input_row" : "output_row");
    return OSCNET_ERROR_ARGUMENT;
  }
  const Lock lock(network.mutex);
  try {
    std::copy_n(input_row, network.input_width(), network.input_node->value.data());
    network.evaluate_output();
    std::copy_n(network.output_node->value.data(), network.output_width(), output_row);
    return OSCNET_OK;
  } catch (...) {
    fill_nan(output_row, network.output_width());
    set_last_error("%s: out of memory", function);
    return OSCNET_ERROR_MEMORY;
  }
}

int predict_handle_rows(oscnet_network* net, const double* input_rows, int row_count,
                        double* output_rows) noexcept {
  clear_last_error();
  static const char* const function = "oscnet_predict_rows";
  if (!have_handle(net, function)) return OSCNET_ERROR_ARGUMENT;
  Network& network = net->network;
  if (row_count < 0) {
    set_last_error("%s: row_count must be at least 0, got %d", function, row_count);
    return OSCNET_ERROR_ARGUMENT;
  }
  // Both arrays must be addressable as a whole, which a 32-bit process cannot do for every count.
  const std::uint64_t widest =
      static_cast<std::uint64_t>(std::max(network.input_width(), network.output_width()));
  if (static_cast<std::uint64_t>(row_count) * widest >
      static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(double)) {
    set_last_error("%s: row_count %d rows do not fit in the address space", function, row_count);
    return OSCNET_ERROR_ARGUMENT;
  }
  const std::int64_t outputs = static_cast<std::int64_t>(row_count) * network.output_width();
  if (row_count > 0 && (input_rows == nullptr || output_rows == nullptr)) {
    fill_nan(output_rows, outputs);
    set_last_error("%s: %s is NULL", function,
                   input_rows == nullptr ? "input_rows" : "output_rows");
    return OSCNET_ERROR_ARGUMENT;
  }
  const Lock lock(network.mutex);
  try {
    network.evaluate_rows(input_rows, row_count, output_rows);
    return OSCNET_OK;
  } catch (...) {
    fill_nan(output_rows, outputs);
    set_last_error("%s: out of memory", function);
    return OSCNET_ERROR_MEMORY;
  }
}

int handle_weights_count(const oscnet_network* net) noexcept {
  clear_last_error();
  static const char* const function = "oscnet_weights_count";
  if (!have_handle(net, function)) return -1;
  const std::int64_t count = net->network.weights_count();
  if (count > INT_MAX) {
    set_last_error("%s: %lld weights are more than an int counts", function,
                   static_cast<long long>(count));
    return -1;
  }
  return static_cast<int>(count);
}

int get_handle_weights(const oscnet_network* net, double* out, int n) noexcept {
  clear_last_error();
  if (!transfer_fits(net, out, n, "oscnet_get_weights", "out")) return -1;
  const Lock lock(net->network.mutex);
  net->network.get_weights(out);
  return n;
}

int set_handle_weights(oscnet_network* net, const double* in, int n) noexcept {
  clear_last_error();
  if (!transfer_fits(net, in, n, "oscnet_set_weights", "in")) return -1;
  const Lock lock(net->network.mutex);
  net->network.set_weights(in);
  return n;
}

}  // namespace oscnet
