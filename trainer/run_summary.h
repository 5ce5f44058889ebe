#ifndef OSCNET_TRAINER_RUN_SUMMARY_H
#define OSCNET_TRAINER_RUN_SUMMARY_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "trainer/metrics.h"

namespace trainer {

/// What one of several runs reached.
struct RunFigures {
  std::uint32_t seed = 0;
  ErrorFigures training;
  ErrorFigures test;
  /// The trained network's loss on the training rows: the mean over them of the squared error
  /// summed over the outputs, in the scaled units the network works in.
  double training_loss = 0.0;
  /// The same on the validation rows; not-a-number without them.
  double validation_loss = std::numeric_limits<double>::quiet_NaN();
};

/// The run to keep: the lowest validation loss when the runs have validation rows, else the
/// lowest training loss; the first of equals. The test rows play no part, or they would no
/// longer be a fair test of the network kept.
std::size_t kept_run(const std::vector<RunFigures>& runs);

/// Each figure's mean over the runs and its standard deviation (that of a sample: divided by
/// runs - 1; 0 for a single run).
struct RunSpread {
  ErrorFigures training_mean;
  ErrorFigures test_mean;
  ErrorFigures training_deviation;
  ErrorFigures test_deviation;
};

RunSpread spread_of(const std::vector<RunFigures>& runs);

}  // namespace trainer

#endif
