#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "nodes/lee_table.h"

namespace oscnet {
namespace {

std::vector<double> fresh_sweep() {
  std::vector<double> table(kLeeRows * kLeeSamples, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(sweep_lee_oscillator(kLeeSteepness, table.data()), kLeeRows);
  return table;
}

double spread(const double* table, int row) {
  const double* first = table + row * kLeeSamples;
  const auto [low, high] = std::minmax_element(first, first + kLeeSamples);
  return *high - *low;
}

TEST(LeeTable, SweepWritesEveryEntryAndDependsOnNothingElse) {
  const std::vector<double> once = fresh_sweep();
  EXPECT_TRUE(std::none_of(once.begin(), once.end(), [](double v) { return std::isnan(v); }));
  EXPECT_EQ(once, fresh_sweep());
  const double* shared = shared_lee_table();
  EXPECT_TRUE(std::equal(once.begin(), once.end(), shared));
}

// The oscillator exactly as its procedure reads, thirteen exponentials per step, none shared.
std::vector<double> literal_sweep(double k) {
  auto f = [k](double a) {
    return (std::exp(k * a) - std::exp(-k * a)) / (std::exp(k * a) + std::exp(-k * a));
  };
  std::vector<double> table(kLeeRows * kLeeSamples);
  double e = 0.2, i = 0.0;
  int r = 0;
  for (double x = -1.0; x <= 1.001; x += 0.002) {
    const int sign = x == 0.0 ? 0 : (x > 0.0 ? 1 : -1);
    const double s = 0.02 * sign + x;
    for (int j = 0; j < 600 - 1; ++j) {
      const double a_e = 5 * e - 5 * i + s - 0;
      const double a_i = 1 * e - 1 * i - 0;
      e = f(a_e);
      i = f(a_i);
      const double w = f(s);
      const double out = (e - i) * std::exp(-1 * 500 * s * s) + 1 * w;
      if (j >= 499) table.at(r * 100 + (j - 499)) = out;
    }
    ++r;
  }
  EXPECT_EQ(r, kLeeRows);
  return table;
}

TEST(LeeTable, SharedExponentialsGiveTheBitsOfTheLiteralProcedure) {
  const std::vector<double> literal = literal_sweep(kLeeSteepness);
  EXPECT_TRUE(std::equal(literal.begin(), literal.end(), shared_lee_table()));
}

TEST(LeeTable, SettledRowsFollowTanhOfTheStimulus) {
  const double* table = shared_lee_table();
  // Row r holds input -1 + 0.002 r, offset by 0.02 away from zero.
  const struct {
    int row;
    double stimulus;
  } settled[] = {{0, -1.02}, {250, -0.52}, {750, 0.52}, {1000, 1.02}};
  for (const auto& s : settled) {
    for (int c = 0; c < kLeeSamples; ++c) {
      EXPECT_NEAR(table[s.row * kLeeSamples + c], std::tanh(4.0 * s.stimulus), 1e-6)
          << "row " << s.row << " sample " << c;
    }
  }
}

TEST(LeeTable, OscillatesOnlyNearZeroInput) {
  const double* table = shared_lee_table();
  for (int row = 0; row < kLeeRows; ++row) {
    if (row < 410 || row > 590) {
      EXPECT_LE(spread(table, row), 1e-9) << "row " << row;
    }
  }
  for (int row = 470; row <= 530; ++row) EXPECT_GT(spread(table, row), 0.01) << "row " << row;
}

TEST(LeeTable, RowsRiseWithTheInputOutsideTheBand) {
  const double* table = shared_lee_table();
  for (int row = 1; row < 400; ++row) EXPECT_GT(table[row * kLeeSamples], table[(row - 1) * 100]);
  for (int row = 602; row < kLeeRows; ++row)
    EXPECT_GT(table[row * kLeeSamples], table[(row - 1) * kLeeSamples]);
}

}  // namespace
}  // namespace oscnet
