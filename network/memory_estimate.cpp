#include "network/memory_estimate.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace oscnet {
namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  return a > kSaturated - b ? kSaturated : a + b;
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > kSaturated / a ? kSaturated : a * b;
}

// A node with its three matrix headers, plus what the allocator and Eigen add per block.
constexpr std::uint64_t kBytesPerNode = 256;
// The oscillator table, shared once a network uses it, and fixed overheads.
constexpr std::uint64_t kFixedBytes = 1 << 20;

// One dense layer of `units` on `inputs` columns, with the activation after it.
std::uint64_t layer_bytes(std::uint64_t inputs, std::uint64_t units) {
  // Weights: value, gradient, Adagrad accumulator, and room for their transpose, which the
  // general backward pass stores as the layer below's local derivative (training does not).
  std::uint64_t doubles = mul(4, mul(inputs, units));
  // The input's transpose handed to the weights, and the rows of the product, the bias, the
  // sum and the activation (values, gradients, local derivatives, accumulator).
  doubles = add(doubles, add(inputs, mul(14, units)));
  // Five nodes, and their entries in the parameter list, its copy and the evaluation orders.
  return add(mul(8, doubles), 5 * (kBytesPerNode + 64));
}

}  // namespace

std::uint64_t estimate_network_bytes(int inputs, int outputs, const int* units, int hidden_layers) {
  auto count = [](int n) { return static_cast<std::uint64_t>(std::max(n, 0)); };
  // The example rows (temporaries, leaves, gradients), the difference and the loss.
  std::uint64_t bytes =
      add(kFixedBytes, mul(8, add(mul(4, count(inputs)), mul(6, count(outputs)))));
  bytes = add(bytes, 4 * kBytesPerNode);
  std::uint64_t width = count(inputs);
  for (int l = 0; l < std::max(hidden_layers, 1); ++l) {
    bytes = add(bytes, layer_bytes(width, count(units[l])));
    width = count(units[l]);
  }
  return add(bytes, layer_bytes(width, count(outputs)));
}

std::uint64_t memory_limit_bytes() {
  std::uint64_t physical = 0;
#if defined(_WIN32)
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) physical = status.ullTotalPhys;
#else
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page_size > 0) {
    physical = mul(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size));
  }
  // A process limited to less address space fails its allocations cleanly, but a network built
  // up to the limit could then never be trained.
  rlimit address_space{};
  if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY &&
      (physical == 0 || address_space.rlim_cur < physical)) {
    physical = address_space.rlim_cur;
  }
#endif
  // A 32-bit process cannot address more than its pointers reach, whatever the machine has.
  return std::min<std::uint64_t>(physical, std::numeric_limits<std::size_t>::max());
}

bool fits_in_memory(std::uint64_t bytes) {
  const std::uint64_t limit = memory_limit_bytes();
  return limit == 0 || bytes <= limit;
}

}  // namespace oscnet
