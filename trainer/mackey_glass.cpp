#include "trainer/mackey_glass.h"

#include <cmath>

namespace trainer {
namespace {

constexpr double kStep = 0.1;
constexpr int kStepsPerUnit = 10;  // samples are taken at whole t
constexpr int kDelaySteps = 170;   // the delay 17 is a whole number of steps
constexpr double kA = 0.2;
constexpr double kB = 0.1;
constexpr double kExponent = 10.0;
constexpr double kStart = 1.2;

double slope(double x, double delayed) {
  return kA * delayed / (1.0 + std::pow(delayed, kExponent)) - kB * x;
}

}  // namespace

std::vector<double> mackey_glass_series(int last_t) {
  const int steps = last_t * kStepsPerUnit;
  std::vector<double> x(static_cast<std::size_t>(steps) + 1);
  x[0] = kStart;
  const auto past = [&](int i) { return i < 0 ? 0.0 : x[static_cast<std::size_t>(i)]; };
  for (int i = 0; i < steps; ++i) {
    // The delay is a whole number of steps, so the delayed value lies on the grid at both ends
    // of a step; the two half-step stages take the mean of those two values. The step whose end
    // reaches x(0) still lies before 0 inside, where the history is 0, not halfway to x(0).
    const double delayed_start = past(i - kDelaySteps);
    const double delayed_end = i < kDelaySteps ? 0.0 : past(i - kDelaySteps + 1);
    const double delayed_middle = 0.5 * (delayed_start + delayed_end);
    const double now = x[static_cast<std::size_t>(i)];
    const double k1 = slope(now, delayed_start);
    const double k2 = slope(now + 0.5 * kStep * k1, delayed_middle);
    const double k3 = slope(now + 0.5 * kStep * k2, delayed_middle);
    const double k4 = slope(now + kStep * k3, delayed_end);
    x[static_cast<std::size_t>(i) + 1] = now + kStep / 6.0 * (k1 + 2.0 * k2 + 2.0 * k3 + k4);
  }
  std::vector<double> samples(static_cast<std::size_t>(last_t) + 1);
  for (int t = 0; t <= last_t; ++t) {
    samples[static_cast<std::size_t>(t)] = x[static_cast<std::size_t>(t) * kStepsPerUnit];
  }
  return samples;
}

Dataset mackey_glass_dataset() {
  constexpr int kFirst = 118;
  constexpr int kLast = 1117;
  constexpr int kHorizon = 6;
  const std::vector<double> x = mackey_glass_series(kLast + kHorizon);

  Dataset data;
  data.name = "Mackey-Glass series, x(t+6)";
  data.description =
      "Mackey-Glass series (delay 17): x(t+6) from x(t-18), x(t-12), x(t-6), x(t), "
      "t = 118..1117";
  data.input_names = {"x(t-18)", "x(t-12)", "x(t-6)", "x(t)"};
  data.target_names = {"x(t+6)"};
  data.time_ordered = true;
  for (int t = kFirst; t <= kLast; ++t) {
    for (const int lag : {18, 12, 6, 0})
      data.inputs.push_back(x[static_cast<std::size_t>(t - lag)]);
    data.targets.push_back(x[static_cast<std::size_t>(t + kHorizon)]);
    data.current_values.push_back(x[static_cast<std::size_t>(t)]);
  }
  data.rows = kLast - kFirst + 1;
  return data;
}

}  // namespace trainer
