#include "trainer/pipeline/split.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "trainer/counted.h"
#include "trainer/input_error.h"
#include "trainer/pipeline/defaults.h"

namespace trainer {

double test_fraction_for(const Options& options) {
  return options.test_fraction.value_or(options.data_path.empty() ? kSeriesTestFraction
                                                                  : kFileTestFraction);
}

RowSplit split_rows(const Dataset& data, double test_fraction) {
  const auto test_rows =
      static_cast<std::size_t>(std::llround(test_fraction * static_cast<double>(data.rows)));
  if (test_rows >= data.rows) {
    throw InputError(data.description + ": too few rows to train on after holding out " +
                     counted(test_rows, "row") + " for testing");
  }
  if (test_fraction > 0.0 && test_rows == 0) {
    char fraction[32];
    std::snprintf(fraction, sizeof fraction, "%g", test_fraction);
    throw InputError(data.description + ": too few rows to hold out a fraction of " + fraction +
                     " for testing; give more rows or --test-fraction 0");
  }
  return {data.rows - test_rows, test_rows};
}

}  // namespace trainer
