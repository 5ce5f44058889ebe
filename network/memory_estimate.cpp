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

#include "network/cgroup_memory.h"

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

MemoryLimit memory_limit() {
  MemoryLimit limit;
  const auto cap = [&limit](std::uint64_t bytes, const char* source) {
    if (limit.bytes == 0 || bytes < limit.bytes) limit = {bytes, source};
  };
#if defined(_WIN32)
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) cap(status.ullTotalPhys, "physical memory");
#else
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page_size > 0) {
    cap(mul(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size)),
        "physical memory");
  }
  // A process limited to less address space or data fails its allocations cleanly, but a
  // network built up to the limit could then never be trained. Both are taken whole, not less
  // what the process already uses, as the physical memory is.
  rlimit resource{};
  if (getrlimit(RLIMIT_AS, &resource) == 0 && resource.rlim_cur != RLIM_INFINITY) {
    cap(resource.rlim_cur, "the address-space limit, RLIMIT_AS");
  }
  if (getrlimit(RLIMIT_DATA, &resource) == 0 && resource.rlim_cur != RLIM_INFINITY) {
    cap(resource.rlim_cur, "the data-segment limit, RLIMIT_DATA");
  }
  // Past a control group's limit the process is killed, so what the group has left counts.
  const std::uint64_t cgroup = cgroup_memory_left();
  if (cgroup != kNoCgroupLimit) cap(cgroup, "what the control group's memory limit leaves");
#endif
  // A 32-bit process cannot address more than its pointers reach, whatever the machine has.
  if (limit.bytes > std::numeric_limits<std::size_t>::max()) {
    limit = {std::numeric_limits<std::size_t>::max(), "the address space"};
  }
  return limit;
}

std::uint64_t memory_limit_bytes() {
  return memory_limit().bytes;
}

bool fits_in_memory(std::uint64_t bytes) {
  const std::uint64_t limit = memory_limit_bytes();
  return limit == 0 || bytes <= limit;
}

}  // namespace oscnet
