#include "trainer/pipeline/split.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>

#include "trainer/counted.h"
#include "trainer/input_error.h"
#include "trainer/pipeline/defaults.h"
#include "trainer/random_streams.h"

namespace trainer {
namespace {

std::string fraction_text(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", fraction);
  return text;
}

std::size_t rounded_part(double fraction, std::size_t rows) {
  return static_cast<std::size_t>(std::llround(fraction * static_cast<double>(rows)));
}

std::string cell_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

double test_fraction_for(const Options& options) {
  return options.test_fraction.value_or(options.data_path.empty() ? kSeriesTestFraction
                                                                  : kFileTestFraction);
}

double validation_fraction_for(const Options& options) {
  const double fraction = options.validation_fraction.value_or(
      options.data_path.empty() ? kSeriesValidationFraction : kValidationFraction);
  if (fraction == 0.0 && options.validation_fraction && options.patience.value_or(0) > 0) {
    throw InputError("--patience " + std::to_string(*options.patience) +
                     " needs validation rows to stop on; drop --validation-fraction 0");
  }
  return fraction;
}

SplitChoice split_choice_for(const Options& options, const Dataset& data) {
  if (options.split) return *options.split;
  return options.data_path.empty() || data.time_ordered ? SplitChoice::tail : SplitChoice::random;
}

RowSplit split_rows(const Dataset& data, double test_fraction, double validation_fraction,
                    bool validation_given, SplitChoice choice, std::uint32_t seed) {
  const std::size_t test_rows = rounded_part(test_fraction, data.rows);
  if (test_rows >= data.rows) {
    throw InputError(data.description + ": too few rows to train on after holding out " +
                     counted(test_rows, "row") + " for testing");
  }
  if (test_fraction > 0.0 && test_rows == 0) {
    throw InputError(data.description + ": too few rows to hold out a fraction of " +
                     fraction_text(test_fraction) +
                     " for testing; give more rows or --test-fraction 0");
  }
  const std::size_t rest = data.rows - test_rows;
  std::size_t validation_rows = rounded_part(validation_fraction, rest);
  if (validation_fraction > 0.0 && (validation_rows == 0 || validation_rows >= rest)) {
    if (!validation_given) {
      validation_rows = 0;
    } else if (validation_rows == 0) {
      throw InputError(data.description + ": too few training rows to hold out a fraction of " +
                       fraction_text(validation_fraction) +
                       " for validation; give more rows or --validation-fraction 0");
    } else {
      throw InputError(data.description + ": too few rows to train on after holding out " +
                       counted(test_rows, "row") + " for testing and " +
                       counted(validation_rows, "row") + " for validation");
    }
  }
  RowSplit split;
  split.training_rows = rest - validation_rows;
  split.validation_rows = validation_rows;
  split.test_rows = test_rows;
  split.choice = choice;
  if (choice == SplitChoice::random && test_rows + validation_rows > 0) {
    std::vector<std::size_t> drawn(data.rows);
    std::iota(drawn.begin(), drawn.end(), std::size_t{0});
    std::mt19937 engine = random_stream(seed, kSplitting);
    shuffle(drawn, engine);
    // Drawn: test rows, then validation rows, then training rows; each part in the data's order.
    const auto part = [&](std::size_t first, std::size_t count) {
      std::vector<std::size_t> rows(drawn.begin() + static_cast<std::ptrdiff_t>(first),
                                    drawn.begin() + static_cast<std::ptrdiff_t>(first + count));
      std::sort(rows.begin(), rows.end());
      split.order.insert(split.order.end(), rows.begin(), rows.end());
    };
    part(test_rows + validation_rows, split.training_rows);
    part(test_rows, validation_rows);
    part(0, test_rows);
  }
  return split;
}

void arrange_rows(Dataset& data, RowSource& source, const RowSplit& split) {
  if (split.order.empty()) return;
  const auto arranged = [&](const std::vector<double>& cells, std::size_t width) {
    std::vector<double> out;
    out.reserve(cells.size());
    for (const std::size_t r : split.order) {
      out.insert(out.end(), cells.begin() + static_cast<std::ptrdiff_t>(r * width),
                 cells.begin() + static_cast<std::ptrdiff_t>((r + 1) * width));
    }
    return out;
  };
  data.inputs = arranged(data.inputs, data.input_width());
  data.targets = arranged(data.targets, data.target_width());
  if (!data.current_values.empty()) {
    data.current_values = arranged(data.current_values, data.target_width());
  }
  if (source.rows.size() == data.rows) {
    std::vector<std::size_t> rows;
    rows.reserve(source.rows.size());
    for (const std::size_t r : split.order) rows.push_back(source.rows[r]);
    source.rows = std::move(rows);
  }
  if (!data.row_labels.empty()) {
    std::vector<std::string> labels;
    labels.reserve(data.row_labels.size());
    for (const std::size_t r : split.order) labels.push_back(data.row_labels[r]);
    data.row_labels = std::move(labels);
  }
}

std::vector<std::string> split_warnings(const RunState& state) {
  std::vector<std::string> warnings;
  const std::size_t rows = state.test_rows();
  if (rows == 0) return warnings;
  const Dataset& data = state.data;
  const std::size_t first = state.test_start();
  const std::string hint = state.split.choice == SplitChoice::tail
                               ? "; --split random draws the test rows from the whole file"
                               : "";
  const std::string where = rows == 1 ? "the test row" : "all " + counted(rows, "test row");
  if (!data.class_names.empty()) {
    // The class of a row is its largest output; one class for every row is a poor test.
    std::size_t only = data.target_width();
    for (std::size_t r = first; r < first + rows; ++r) {
      const double* row = data.target_row(r);
      const auto cls =
          static_cast<std::size_t>(std::max_element(row, row + data.target_width()) - row);
      if (only == data.target_width()) only = cls;
      if (cls != only) return warnings;
    }
    if (rows > 1) {
      warnings.push_back(where + " hold one class, '" + data.class_names[only] +
                         "': their accuracy says nothing of the other classes" + hint);
    }
    return warnings;
  }
  for (std::size_t k = 0; k < data.target_width(); ++k) {
    const double value = data.target_row(first)[k];
    bool constant = true;
    for (std::size_t r = first + 1; r < first + rows && constant; ++r) {
      constant = data.target_row(r)[k] == value;
    }
    if (constant) {
      warnings.push_back("target '" + data.target_names[k] + "' is " + cell_text(value) + " on " +
                         where + ", so its NRMSE there is not defined" + hint);
    }
  }
  return warnings;
}

}  // namespace trainer
