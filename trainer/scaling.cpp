#include "trainer/scaling.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trainer {

ColumnScaling ColumnScaling::identity(std::size_t columns) {
  return ColumnScaling{std::vector<double>(columns, 1.0), std::vector<double>(columns, 0.0)};
}

ColumnScaling ColumnScaling::to_unit_range(const std::vector<double>& cells, std::size_t columns,
                                           std::size_t rows) {
  ColumnScaling scaling = identity(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    double low = cells[c];
    double high = cells[c];
    for (std::size_t r = 1; r < rows; ++r) {
      low = std::min(low, cells[r * columns + c]);
      high = std::max(high, cells[r * columns + c]);
    }
    // high - low can overflow for columns spanning most of the doubles; half of each cannot.
    const double half_range = high / 2 - low / 2;
    if (half_range > 0.0 && std::isfinite(1.0 / half_range)) {
      scaling.factor[c] = 1.0 / half_range;
      scaling.offset[c] = -1.0 - low / half_range;
    } else {
      scaling.offset[c] = -low;
    }
  }
  return scaling;
}

ColumnScaling ColumnScaling::to_standard(const std::vector<double>& cells, std::size_t columns,
                                         std::size_t rows) {
  ColumnScaling scaling = identity(columns);
  for (std::size_t c = 0; c < columns; ++c) {
    // Worked out on the column divided by its largest magnitude, so that neither the sums
    // nor the squares overflow for columns spanning most of the doubles.
    double largest = 0.0;
    for (std::size_t r = 0; r < rows; ++r)
      largest = std::max(largest, std::fabs(cells[r * columns + c]));
    if (largest == 0.0) continue;
    double sum = 0.0;
    for (std::size_t r = 0; r < rows; ++r) sum += cells[r * columns + c] / largest;
    const double mean = sum / static_cast<double>(rows);
    double squares = 0.0;
    for (std::size_t r = 0; r < rows; ++r) {
      const double d = cells[r * columns + c] / largest - mean;
      squares += d * d;
    }
    const double deviation = std::sqrt(squares / static_cast<double>(rows));
    const double factor = 1.0 / (deviation * largest);
    if (deviation > 0.0 && std::isfinite(factor) && factor > 0.0) {
      scaling.factor[c] = factor;
      scaling.offset[c] = -mean / deviation;
    } else {
      scaling.offset[c] = -mean * largest;
    }
  }
  return scaling;
}

void ColumnScaling::apply(std::vector<double>& cells) const {
  const std::size_t width = columns();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::size_t c = i % width;
    cells[i] = factor[c] * cells[i] + offset[c];
  }
}

void ColumnScaling::invert_row(double* row) const {
  for (std::size_t c = 0; c < columns(); ++c) row[c] = (row[c] - offset[c]) / factor[c];
}

std::size_t WeightLayout::count() const {
  // Widths come from files and the command line: a total that wrapped around could match a
  // short list of weights.
  constexpr std::size_t kMost = std::numeric_limits<std::size_t>::max();
  std::size_t total = 0;
  for (std::size_t l = 0; l + 1 < widths.size(); ++l) {
    const std::size_t rows = static_cast<std::size_t>(widths[l]) + 1;
    const auto units = static_cast<std::size_t>(widths[l + 1]);
    if (units != 0 && rows > kMost / units) return kMost;
    if (rows * units > kMost - total) return kMost;
    total += rows * units;
  }
  return total;
}

namespace {

struct Block {
  double* weights;  // fan_in x units, column by column
  double* bias;     // units
  std::size_t fan_in;
  std::size_t units;
  double& w(std::size_t row, std::size_t column) { return weights[column * fan_in + row]; }
};

Block first_layer(std::vector<double>& params, const WeightLayout& layout) {
  const auto fan_in = static_cast<std::size_t>(layout.widths[0]);
  const auto units = static_cast<std::size_t>(layout.widths[1]);
  return Block{params.data(), params.data() + fan_in * units, fan_in, units};
}

Block output_layer(std::vector<double>& params, const WeightLayout& layout) {
  const std::size_t n = layout.widths.size();
  const auto fan_in = static_cast<std::size_t>(layout.widths[n - 2]);
  const auto units = static_cast<std::size_t>(layout.widths[n - 1]);
  double* const start = params.data() + params.size() - (fan_in + 1) * units;
  return Block{start, start + fan_in * units, fan_in, units};
}

}  // namespace

// Layer one computes (factor x + offset) W + b = x (diag(factor) W) + (offset W + b); the output
// layer's scaled result s maps back to (s - offset) / factor.
void fold_scaling(std::vector<double>& params, const WeightLayout& layout,
                  const ColumnScaling& inputs, const ColumnScaling& outputs) {
  Block first = first_layer(params, layout);
  for (std::size_t u = 0; u < first.units; ++u) {
    for (std::size_t j = 0; j < first.fan_in; ++j) {
      first.bias[u] += inputs.offset[j] * first.w(j, u);
      first.w(j, u) *= inputs.factor[j];
    }
  }
  Block last = output_layer(params, layout);
  for (std::size_t k = 0; k < last.units; ++k) {
    for (std::size_t i = 0; i < last.fan_in; ++i) last.w(i, k) /= outputs.factor[k];
    last.bias[k] = (last.bias[k] - outputs.offset[k]) / outputs.factor[k];
  }
}

void unfold_scaling(std::vector<double>& params, const WeightLayout& layout,
                    const ColumnScaling& inputs, const ColumnScaling& outputs) {
  Block last = output_layer(params, layout);
  for (std::size_t k = 0; k < last.units; ++k) {
    for (std::size_t i = 0; i < last.fan_in; ++i) last.w(i, k) *= outputs.factor[k];
    last.bias[k] = last.bias[k] * outputs.factor[k] + outputs.offset[k];
  }
  Block first = first_layer(params, layout);
  for (std::size_t u = 0; u < first.units; ++u) {
    for (std::size_t j = 0; j < first.fan_in; ++j) {
      first.w(j, u) /= inputs.factor[j];
      first.bias[u] -= inputs.offset[j] * first.w(j, u);
    }
  }
}

}  // namespace trainer
