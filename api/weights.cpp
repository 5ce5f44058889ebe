#include <algorithm>
#include <climits>
#include <cstdint>

#include "api/entry_points.h"
#include "api/network_state.h"

namespace oscnet {

namespace {

// Doubles in all parameters; 64-bit so that a huge network cannot wrap the sum.
std::int64_t total_doubles() {
  return default_network().weights_count();
}

// Whether `n` values at `values` cover every parameter exactly.
bool transfer_fits(const void* values, int n) {
  return network_built() && values != nullptr && n >= 0 && n == total_doubles();
}

}  // namespace

int param_count() noexcept {
  const std::lock_guard<NetworkMutex> lock(default_network().mutex);
  const std::int64_t total = total_doubles();
  return total <= INT_MAX ? static_cast<int>(total) : -1;
}

int get_params(double* out, int n) noexcept {
  const std::lock_guard<NetworkMutex> lock(default_network().mutex);
  if (!transfer_fits(out, n)) return -1;
  // Eigen stores each matrix column by column, which is the order the host sees.
  for (const Nodes* parameter : parameters) {
    out = std::copy_n(parameter->value.data(), parameter->value.size(), out);
  }
  return n;
}

int set_params(const double* in, int n) noexcept {
  const std::lock_guard<NetworkMutex> lock(default_network().mutex);
  if (!transfer_fits(in, n)) return -1;
  for (Nodes* parameter : parameters) {
    const Eigen::Index size = parameter->value.size();
    std::copy_n(in, size, parameter->value.data());
    in += size;
  }
  return n;
}

}  // namespace oscnet
