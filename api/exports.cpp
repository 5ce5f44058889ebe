// The C entry points: thin shells over the core that let no exception leave the library.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "api/entry_points.h"
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

OSCNET_API int OSCNET_CALL myAdd(int first, int second) {
  std::printf("I am here!\n");
  // Flushed so the line is seen even if the host dies right after.
  std::fflush(stdout);
  // Two's-complement wrap instead of undefined behaviour on overflow.
  return static_cast<int>(static_cast<unsigned>(first) - static_cast<unsigned>(second));
}

}  // extern "C"
