// oscnet through network handles: per-row train and predict on the same networks as the default
// network's benchmarks, networks trained side by side on threads, and many rows predicted at once.
#pragma once

#include "bench_networks.h"

namespace oscnet_bench {

/// Registers the handle benchmarks of one network; registered right after the default network's,
/// so that both run under the same load on a shared machine.
void register_handle_benchmarks(const Shape& s);

}  // namespace oscnet_bench
