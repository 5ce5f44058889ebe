#pragma once

// What the exported handle functions do, as C++ functions of the core: each checks its
// arguments, takes the network's lock, turns running out of memory into its error value, clears
// the thread's message for oscnet_last_error() on entry and records one whenever it fails. None
// throws.

#include "api/network.h"
#include "oscnet.h"

/// The network behind a handle. Its widths and layers are fixed at creation.
struct oscnet_network {
  oscnet::Network network;
};

namespace oscnet {

oscnet_network* create_network(int input_size, int output_size, int layer_count,
                               const int* layer_units, const int* activation_codes,
                               unsigned int seed) noexcept;
void destroy_network(oscnet_network* net) noexcept;
int network_input_size(const oscnet_network* net) noexcept;
int network_output_size(const oscnet_network* net) noexcept;
double train_handle(oscnet_network* net, const double* input_row, const double* target_row,
                    int iterations, double learning_rate, int optimizer_code) noexcept;
int reset_handle_optimizer(oscnet_network* net) noexcept;
int predict_handle(oscnet_network* net, const double* input_row, double* output_row) noexcept;
int predict_handle_rows(oscnet_network* net, const double* input_rows, int row_count,
                        double* output_rows) noexcept;
int handle_weights_count(const oscnet_network* net) noexcept;
int get_handle_weights(const oscnet_network* net, double* out, int n) noexcept;
int set_handle_weights(oscnet_network* net, const double* in, int n) noexcept;

}  // namespace oscnet
