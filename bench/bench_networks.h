// The networks every benchmark measures, and a deterministic example for each.
#pragma once

#include <string>
#include <vector>

namespace oscnet_bench {

/// inputs -> units... -> outputs, with one activation code per hidden layer
/// (0 rectifier, 1 logistic, 2 tanh(6x), 3 Lee oscillator).
struct Shape {
  std::string name;
  int inputs;
  std::vector<int> units;
  std::vector<int> codes;
  int outputs;

  /// Doubles in all weights and biases.
  long weights() const {
    long total = 0;
    int below = inputs;
    for (int u : units) {
      total += static_cast<long>(below) * u + u;
      below = u;
    }
    return total + static_cast<long>(below) * outputs + outputs;
  }
};

inline const std::vector<Shape>& shapes() {
  static const std::vector<Shape> all = {
      {"tiny", 3, {8, 4}, {0, 1}, 2},         {"small", 10, {32, 16}, {2, 2}, 1},
      {"medium", 64, {128, 64}, {0, 0}, 8},   {"large", 784, {256, 128}, {0, 0}, 10},
      {"small_lee", 10, {32, 16}, {3, 2}, 1},
  };
  return all;
}

/// A fixed row of `n` values in (-1, 1), different for each `salt`.
inline std::vector<double> example_row(int n, int salt) {
  std::vector<double> row(n);
  for (int j = 0; j < n; ++j) row[j] = ((j * 37 + salt * 11) % 41) / 41.0 * 1.6 - 0.8;
  return row;
}

}  // namespace oscnet_bench
