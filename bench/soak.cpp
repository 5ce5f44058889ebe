// Builds, trains, predicts with, saves and releases networks of random shapes, every activation
// and both optimizers, through the exported functions, cycle after cycle, and fails when the
// resident memory at the end exceeds the one after a warm-up by more than kMarginKiB: a block
// lost per cycle, or state piling up from network to network, would show. Usage:
//   oscnet_soak SEED [--cycles N]      (N defaults to a million; a tenth of it warms up)
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "oscnet.h"

namespace {

// Allocator caches and the oscillator table settle during the warm-up; what grows after it is
// held by someone.
constexpr long kMarginKiB = 1024;

long resident_kib() {
  long size = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = -1;
  std::fclose(statm);
  return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int usage(const char* program) {
  std::fprintf(stderr, "usage: %s SEED [--cycles N]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) return usage(argv[0]);
  char* end = nullptr;
  const unsigned long seed = std::strtoul(argv[1], &end, 10);
  if (*end != '\0') return usage(argv[0]);
  long cycles = 1000000;
  if (argc == 4) {
    if (std::strcmp(argv[2], "--cycles") != 0) return usage(argv[0]);
    cycles = std::strtol(argv[3], &end, 10);
    if (*end != '\0' || cycles < 10) return usage(argv[0]);
  }
  const long warm_up = cycles / 10;

  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  std::srand(static_cast<unsigned>(seed));  // the oscillator's draws
  auto between = [&](int low, int high) { return std::uniform_int_distribution<>(low, high)(rng); };
  std::uniform_real_distribution<double> value(-1.0, 1.0), rate_of(0.001, 0.1);

  const auto started = std::chrono::steady_clock::now();
  const long at_start = resident_kib();
  long after_warm_up = at_start;
  std::vector<int> units, codes;
  std::vector<double> x, y, out, params;
  long failures = 0;
  for (long cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == warm_up) after_warm_up = resident_kib();
    int layers = between(1, 3), inputs = between(1, 8), outputs = between(1, 4);
    units.resize(layers);
    codes.resize(layers);
    for (int l = 0; l < layers; ++l) {
      units[l] = between(1, 16);
      codes[l] = between(0, 4);  // 4: no activation
    }
    x.resize(inputs);
    y.resize(outputs);
    out.resize(outputs);
    for (double& v : x) v = value(rng);
    for (double& v : y) v = value(rng);
    if (!build_net(&layers, &inputs, &outputs, x.data(), y.data(), units.data(), codes.data())) {
      ++failures;
      continue;
    }
    double rate = rate_of(rng);
    int optimizer = between(0, 1);
    const double loss =
        train(inputs, outputs, x.data(), y.data(), between(1, 3), &rate, &optimizer);
    Predict(inputs, outputs, x.data(), out.data());
    params.resize(oscnet_param_count());
    const int n = static_cast<int>(params.size());
    const bool saved =
        oscnet_get_params(params.data(), n) == n && oscnet_set_params(params.data(), n) == n;
    if (!std::isfinite(loss) || !std::isfinite(out[0]) || !saved) ++failures;
    release_net();
  }
  const long at_end = resident_kib();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::printf("cycles %ld, seed %lu, %.1f s\n", cycles, seed, seconds);
  std::printf("resident KiB: start %ld, after %ld warm-up cycles %ld, end %ld\n", at_start, warm_up,
              after_warm_up, at_end);
  if (failures != 0) {
    std::printf("FAILED: %ld cycles did not build, train, predict or save as they should\n",
                failures);
    return 1;
  }
  if (at_start < 0 || at_end < 0 || at_end - after_warm_up > kMarginKiB) {
    std::printf("FAILED: resident memory grew by more than %ld KiB after the warm-up\n",
                kMarginKiB);
    return 1;
  }
  std::printf("resident memory steady within %ld KiB\n", kMarginKiB);
  return 0;
}
