// The built-in series, against the closed form before the delay acts and a finer integration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "trainer/mackey_glass.h"

namespace trainer {
namespace {

TEST(MackeyGlass, DecaysExponentiallyUntilTheDelayedTermActs) {
  // x(t - 17) is 0 on [0, 17), so dx/dt = -0.1 x there.
  const std::vector<double> x = mackey_glass_series(17);
  ASSERT_EQ(x.size(), 18u);
  for (int t = 0; t <= 17; ++t) EXPECT_NEAR(x[t], 1.2 * std::exp(-0.1 * t), 1e-9) << "t = " << t;
}

struct Equation {
  double a = 0.2;
  double b = 0.1;
  double exponent = 10.0;
  int delay = 17;
};

// Fourth-order Runge-Kutta with step 1 / steps_per_unit; the delayed value at a half step is
// the mean of the grid values beside it, and 0 wherever the delayed time is before 0.
std::vector<double> reference(const Equation& equation, int last_t, int steps_per_unit) {
  const double h = 1.0 / steps_per_unit;
  const int delay_steps = equation.delay * steps_per_unit;
  std::vector<double> x(static_cast<std::size_t>(last_t * steps_per_unit) + 1);
  x[0] = 1.2;
  const auto f = [&](double now, double delayed) {
    return equation.a * delayed / (1.0 + std::pow(delayed, equation.exponent)) - equation.b * now;
  };
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    const long back = static_cast<long>(i) - delay_steps;
    const double start = back >= 0 ? x[static_cast<std::size_t>(back)] : 0.0;
    const double end = back >= 0 ? x[static_cast<std::size_t>(back + 1)] : 0.0;
    const double middle = (start + end) / 2;
    const double k1 = f(x[i], start);
    const double k2 = f(x[i] + h / 2 * k1, middle);
    const double k3 = f(x[i] + h / 2 * k2, middle);
    const double k4 = f(x[i] + h * k3, end);
    x[i + 1] = x[i] + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
  }
  std::vector<double> samples;
  for (int t = 0; t <= last_t; ++t)
    samples.push_back(x[static_cast<std::size_t>(t) * steps_per_unit]);
  return samples;
}

double largest_difference(const std::vector<double>& a, const std::vector<double>& b) {
  double largest = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::fabs(a[i] - b[i]));
  return largest;
}

TEST(MackeyGlass, AgreesWithATenTimesFinerIntegration) {
  const int last_t = 60;
  const std::vector<double> series = mackey_glass_series(last_t);
  ASSERT_EQ(series.size(), static_cast<std::size_t>(last_t) + 1);
  // The step 0.1 is within about 1e-5 of the step 0.01 this far.
  const double tolerance = 1e-4;
  EXPECT_LT(largest_difference(series, reference(Equation{}, last_t, 100)), tolerance);

  // The tolerance is tight enough to tell any parameter a little off.
  Equation changed[6];
  changed[0].a = 0.21;
  changed[1].b = 0.105;
  changed[2].exponent = 9.0;
  changed[3].exponent = 11.0;
  changed[4].delay = 16;
  changed[5].delay = 18;
  for (const Equation& equation : changed) {
    EXPECT_GT(largest_difference(series, reference(equation, last_t, 100)), 10 * tolerance);
  }
}

TEST(MackeyGlass, DatasetForecastsSixAheadFromFourLags) {
  const Dataset data = mackey_glass_dataset();
  const std::vector<double> x = mackey_glass_series(1123);
  ASSERT_EQ(data.rows, 1000u);
  ASSERT_EQ(data.input_width(), 4u);
  ASSERT_EQ(data.target_width(), 1u);
  ASSERT_EQ(data.inputs.size(), 4000u);
  ASSERT_EQ(data.targets.size(), 1000u);
  ASSERT_EQ(data.current_values.size(), 1000u);
  EXPECT_TRUE(data.time_ordered);
  for (std::size_t row = 0; row < data.rows; ++row) {
    const std::size_t t = 118 + row;
    const double* input = data.input_row(row);
    ASSERT_EQ(input[0], x[t - 18]) << t;
    ASSERT_EQ(input[1], x[t - 12]) << t;
    ASSERT_EQ(input[2], x[t - 6]) << t;
    ASSERT_EQ(input[3], x[t]) << t;
    ASSERT_EQ(data.target_row(row)[0], x[t + 6]) << t;
    ASSERT_EQ(data.current_values[row], x[t]) << t;
  }
}

TEST(MackeyGlass, StaysPositiveAndBounded) {
  const std::vector<double> x = mackey_glass_series(1123);
  for (std::size_t t = 0; t < x.size(); ++t) {
    ASSERT_GT(x[t], 0.0) << t;
    ASSERT_LT(x[t], 1.5) << t;
  }
}

}  // namespace
}  // namespace trainer
