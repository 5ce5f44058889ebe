#pragma once

#include <cstdint>

namespace oscnet {

/// Bytes that a network needs to be built and trained: every value, gradient, local
/// derivative and optimizer accumulator, the nodes and the lists over them. `units` holds one
/// unit count per hidden layer. Saturates at the largest uint64_t instead of wrapping, so that
/// absurd sizes give an absurd estimate, never a small one.
std::uint64_t estimate_network_bytes(int inputs, int outputs, const int* units, int hidden_layers);

/// The memory a network may take, and what sets it.
struct MemoryLimit {
  std::uint64_t bytes = 0;  ///< zero when the platform does not tell
  const char* source = "";  ///< what sets it, for messages: "physical memory", ...
};

/// Memory the process may use for a network: the machine's physical memory, capped by the
/// process's address-space (RLIMIT_AS) and data-segment (RLIMIT_DATA) limits, by what its
/// control groups leave (see cgroup_memory_left) and by what its pointers reach. Read afresh on
/// every call: a few system calls and small files, once per build.
MemoryLimit memory_limit();
std::uint64_t memory_limit_bytes();

/// Whether a network of `bytes` should be built on this machine. On Linux an allocation far
/// beyond physical memory seldom fails cleanly (the kernel kills the process instead), so
/// oversized networks are refused before anything is allocated.
bool fits_in_memory(std::uint64_t bytes);

}  // namespace oscnet
