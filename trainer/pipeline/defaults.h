#ifndef OSCNET_TRAINER_PIPELINE_DEFAULTS_H
#define OSCNET_TRAINER_PIPELINE_DEFAULTS_H

// What a run does when the command line leaves it open: every such choice of the steps, in one
// place.

#include "trainer/options.h"

namespace trainer {

constexpr double kSeriesTestFraction = 0.5;  // t = 618..1117, the customary split
constexpr double kFileTestFraction = 0.2;
/// The most epochs a run trains for; early stopping usually ends it sooner.
constexpr int kDefaultEpochs = 4000;
/// Of the training rows, held out to choose the epoch whose weights are kept.
constexpr double kValidationFraction = 0.2;
/// The built-in series does not overfit in its epochs, and a validation part would take a
/// fifth of its customary training rows: it trains on all of them.
constexpr double kSeriesValidationFraction = 0.0;
/// Epochs without a better validation loss before training stops.
constexpr int kPatience = 500;
/// A loss this many times its first epoch's has diverged, long before it overflows.
constexpr double kDivergenceGrowth = 1e6;
constexpr ScaleChoice kDefaultScaling = ScaleChoice::minmax;

}  // namespace trainer

#endif
