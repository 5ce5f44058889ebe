#include "nodes/lee_table.h"

#include <cmath>
#include <vector>

namespace oscnet {
namespace {

// Oscillator constants.
constexpr double kExcitatoryFromE = 5.0;
constexpr double kExcitatoryFromI = 5.0;
constexpr double kInhibitoryFromE = 1.0;
constexpr double kInhibitoryFromI = 1.0;
constexpr double kExcitatoryThreshold = 0.0;
constexpr double kInhibitoryThreshold = 0.0;
constexpr double kStimulusOffset = 0.02;
constexpr double kDecay = 500.0;
constexpr double kStimulusWeight = 1.0;
constexpr int kIterations = 600 - 1;
constexpr int kFirstRecorded = 499;
constexpr double kSweepStart = -1.0;
constexpr double kSweepEnd = 1.001;
constexpr double kSweepStep = 0.002;

// The neurons' transfer function. Each exponential is taken once and reused: same bits as
// evaluating the quotient's four exponentials one by one.
double transfer(double a, double k) {
  const double up = std::exp(k * a);
  const double down = std::exp(-k * a);
  return (up - down) / (up + down);
}

}  // namespace

int sweep_lee_oscillator(double k, double* destination) {
  // The state carries over from one input to the next: the sweep is one continuous run.
  double e = 0.2;
  double i = 0.0;
  int row = 0;
  // x advances by repeated addition, so it never hits 0.0 exactly.
  for (double x = kSweepStart; x <= kSweepEnd; x += kSweepStep, ++row) {
    if (row >= kLeeRows) continue;
    const double sign = x == 0.0 ? 0.0 : (x > 0.0 ? 1.0 : -1.0);
    const double s = kStimulusOffset * sign + x;
    // The stimulus neuron and the decay depend on s alone: once per input.
    const double w = transfer(s, k);
    const double decay = std::exp(-1.0 * kDecay * s * s);
    double* samples = destination + static_cast<long>(row) * kLeeSamples;
    for (int j = 0; j < kIterations; ++j) {
      const double a_e = kExcitatoryFromE * e - kExcitatoryFromI * i + s - kExcitatoryThreshold;
      const double a_i = kInhibitoryFromE * e - kInhibitoryFromI * i - kInhibitoryThreshold;
      e = transfer(a_e, k);
      i = transfer(a_i, k);
      const double out = (e - i) * decay + kStimulusWeight * w;
      if (j >= kFirstRecorded) samples[j - kFirstRecorded] = out;
    }
  }
  return row;
}

const double* shared_lee_table() {
  static const std::vector<double> table = [] {
    std::vector<double> t(static_cast<std::size_t>(kLeeRows) * kLeeSamples);
    sweep_lee_oscillator(kLeeSteepness, t.data());
    return t;
  }();
  return table.data();
}

}  // namespace oscnet
