#include <algorithm>
#include <limits>

#include "api/entry_points.h"
#include "api/network_state.h"

namespace oscnet {

void predict(int input_size, int output_size, const double* input_row, double* output_row) {
  const std::lock_guard<NetworkMutex> lock(default_network().mutex);
  if (!network_built() || !row_fits(input_size, input_row, input_node->value.cols()) ||
      !row_fits(output_size, output_row, output_node->value.cols())) {
    if (output_row != nullptr && output_size > 0) {
      std::fill_n(output_row, output_size, std::numeric_limits<double>::quiet_NaN());
    }
    return;
  }
  std::copy_n(input_row, input_size, input_node->value.data());
  default_network().evaluate_output();
  std::copy_n(output_node->value.data(), output_size, output_row);
}

}  // namespace oscnet
