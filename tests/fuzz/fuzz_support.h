// What the call-sequence fuzzer's parts share: the failure report, comparisons that treat every
// bit as significant, and pickers of hostile values.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace fuzz {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kSentinel = -12345.5;
// Rows longer than this are never handed over; sizes beyond it come with a short row or none.
constexpr int kMaxRow = 12;

[[noreturn]] inline void violated(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: promise broken: %s\n", file, line, what);
  std::abort();
}

#define EXPECT(condition)                                             \
  do {                                                                \
    if (!(condition)) fuzz::violated(__FILE__, __LINE__, #condition); \
  } while (0)

inline bool same_bits(const double* a, const double* b, std::size_t n) {
  return n == 0 || std::memcmp(a, b, n * sizeof(double)) == 0;
}

inline bool identical(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || same_bits(&a, &b, 1);
}

// Equal bit for bit, except that a not-a-number matches any other: IEEE 754 leaves the sign of
// a not-a-number result open, and two ways to the same value (a block of rows and a single row;
// training in one call and in several) may arrive at it with different operand orders.
inline bool same_values(const double* a, const double* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!identical(a[i], b[i])) return false;
  }
  return true;
}

inline bool all_nan(const double* values, int n) {
  return std::all_of(values, values + n, [](double v) { return std::isnan(v); });
}

// The library's loss: sum over the outputs of pow(output - target, 2), left to right.
inline double loss_of(const double* output, const double* target, std::size_t n) {
  double sum = 0.0;
  for (std::size_t j = 0; j < n; ++j) sum = std::pow(output[j] - target[j], 2.0) + sum;
  return sum;
}

inline double pick_value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
      return kNaN;
    case 1:
      return kInf;
    case 2:
      return -kInf;
    case 3:
      return 1e300;
    case 4:
      return -0.0;
    case 5:
      return std::numeric_limits<double>::denorm_min();
    case 6:
      return -DBL_MAX;
    default:
      return in.ConsumeFloatingPointInRange(-2.0, 2.0);
  }
}

inline double pick_rate(FuzzedDataProvider& in) {
  static const double rates[] = {0.05, 0.0, -0.1, 1e150, 1e300, DBL_MAX, kNaN, kInf, -kInf, 0.5};
  const int which = in.ConsumeIntegralInRange(0, 10);
  return which < 10 ? rates[which] : in.ConsumeFloatingPoint<double>();
}

inline int pick_int(FuzzedDataProvider& in, int low, int high) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return INT_MIN;
    case 1:
      return INT_MAX;
    default:
      return in.ConsumeIntegralInRange(low, high);
  }
}

// A weights count for a network of `count` parameters: mostly right, otherwise off by one,
// zero or negative.
inline int pick_count_near(FuzzedDataProvider& in, int count) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return count + 1;
    case 1:
      return count - 1;
    case 2:
      return 0;
    case 3:
      return pick_int(in, INT_MIN, -1);
    default:
      return count;
  }
}

inline std::uint64_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page > 0 ? static_cast<std::uint64_t>(pages) * page : 0;
}

// Whether the weight values alone of inputs -> units... -> outputs exceed physical memory: such
// a network must be refused before anything is allocated.
inline bool weights_exceed_memory(int inputs, const std::vector<int>& units, int outputs) {
  long double bytes = 0, width = inputs;
  for (int u : units) {
    bytes += width * u * 8.0L;
    width = u;
  }
  bytes += width * outputs * 8.0L;
  return bytes > static_cast<long double>(physical_memory());
}

// Doubles in all weights and biases of inputs -> units... -> outputs (small networks only).
inline int weights_count_of(int inputs, const std::vector<int>& units, int outputs) {
  int count = 0, width = inputs;
  for (int u : units) {
    count += width * u + u;
    width = u;
  }
  return count + width * outputs + outputs;
}

}  // namespace fuzz
