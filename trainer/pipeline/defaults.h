#ifndef OSCNET_TRAINER_PIPELINE_DEFAULTS_H
#define OSCNET_TRAINER_PIPELINE_DEFAULTS_H

// What a run does when the command line leaves it open: every such choice of the steps, in one
// place.

namespace trainer {

constexpr double kSeriesTestFraction = 0.5;  // t = 618..1117, the customary split
constexpr double kFileTestFraction = 0.2;
constexpr int kDefaultEpochs = 2000;

}  // namespace trainer

#endif
