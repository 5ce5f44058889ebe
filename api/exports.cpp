// The C entry points: thin shells over the core that let no exception leave the library (the
// handle functions of the core catch everything themselves).
#include <algorithm>
#include <cstdio>
#include <limits>

#include "api/entry_points.h"
#include "api/handles.h"
#include "api/last_error.h"
#include "api/network_state.h"
#include "oscnet.h"

namespace {

// Runs `body`, turning anything it throws into `fallback`: an exception crossing a C boundary
// would terminate the host.
template <typename Result, typename Body>
Result guarded(Result fallback, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

}  // namespace

extern "C" {

OSCNET_API bool OSCNET_CALL build_net(int* layer_count, int* input_size, int* output_size,
                                      double* input_row, double* target_row, int* layer_units,
                                      int* activation_codes) {
  return guarded(false, [&] {
    return oscnet::build_network(layer_count, input_size, output_size, input_row, target_row,
                                 layer_units, activation_codes);
  });
}

OSCNET_API double OSCNET_CALL train(int input_size, int output_size, double* input_row,
                                    double* target_row, int iterations, double* learning_rate,
                                    int* optimizer_code) {
  return guarded(std::numeric_limits<double>::quiet_NaN(), [&] {
    return oscnet::train_network(input_size, output_size, input_row, target_row, iterations,
                                 learning_rate, optimizer_code);
  });
}

OSCNET_API void OSCNET_CALL Predict(int input_size, int output_size, double* input_row,
                                    double* output_row) {
  const bool evaluated = guarded(false, [&] {
    oscnet::predict(input_size, output_size, input_row, output_row);
    return true;
  });
  // Only a usable call gets as far as throwing, so the row holds output_size values; without
  // this the host would take whatever the row held before for the network's outputs.
  if (!evaluated) {
    std::fill_n(output_row, output_size, std::numeric_limits<double>::quiet_NaN());
  }
}

OSCNET_API void OSCNET_CALL release_net(void) {
  oscnet::release_network();
}

OSCNET_API int OSCNET_CALL oscnet_param_count(void) {
  return oscnet::param_count();
}

OSCNET_API int OSCNET_CALL oscnet_get_params(double* out, int n) {
  return oscnet::get_params(out, n);
}

OSCNET_API int OSCNET_CALL oscnet_set_params(const double* in, int n) {
  return oscnet::set_params(in, n);
}

OSCNET_API oscnet_network* OSCNET_CALL oscnet_create(int input_size, int output_size,
                                                     int layer_count, const int* layer_units,
                                                     const int* activation_codes,
                                                     unsigned int seed) {
  return oscnet::create_network(input_size, output_size, layer_count, layer_units, activation_codes,
                                seed);
}

OSCNET_API void OSCNET_CALL oscnet_destroy(oscnet_network* net) {
  oscnet::destroy_network(net);
}

OSCNET_API int OSCNET_CALL oscnet_input_size(const oscnet_network* net) {
  return oscnet::network_input_size(net);
}

OSCNET_API int OSCNET_CALL oscnet_output_size(const oscnet_network* net) {
  return oscnet::network_output_size(net);
}

OSCNET_API double OSCNET_CALL oscnet_train(oscnet_network* net, const double* input_row,
                                           const double* target_row, int iterations,
                                           double learning_rate, int optimizer_code) {
  return oscnet::train_handle(net, input_row, target_row, iterations, learning_rate,
                              optimizer_code);
}

OSCNET_API int OSCNET_CALL oscnet_reset_optimizer(oscnet_network* net) {
  return oscnet::reset_handle_optimizer(net);
}

OSCNET_API int OSCNET_CALL oscnet_predict(oscnet_network* net, const double* input_row,
                                          double* output_row) {
  return oscnet::predict_handle(net, input_row, output_row);
}

OSCNET_API int OSCNET_CALL oscnet_predict_rows(oscnet_network* net, const double* input_rows,
                                               int row_count, double* output_rows) {
  return oscnet::predict_handle_rows(net, input_rows, row_count, output_rows);
}

OSCNET_API int OSCNET_CALL oscnet_weights_count(const oscnet_network* net) {
  return oscnet::handle_weights_count(net);
}

OSCNET_API int OSCNET_CALL oscnet_get_weights(const oscnet_network* net, double* out, int n) {
  return oscnet::get_handle_weights(net, out, n);
}

OSCNET_API int OSCNET_CALL oscnet_set_weights(oscnet_network* net, const double* in, int n) {
  return oscnet::set_handle_weights(net, in, n);
}

OSCNET_API const char* OSCNET_CALL oscnet_last_error(void) {
  return oscnet::last_error();
}

OSCNET_API int OSCNET_CALL myAdd(int first, int second) {
  std::printf("I am here!\n");
  // Flushed so the line is seen even if the host dies right after.
  std::fflush(stdout);
  // Two's-complement wrap instead of undefined behaviour on overflow.
  return static_cast<int>(static_cast<unsigned>(first) - static_cast<unsigned>(second));
}

}  // extern "C"
