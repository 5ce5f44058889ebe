#ifndef OSCNET_TRAINER_RANDOM_STREAMS_H
#define OSCNET_TRAINER_RANDOM_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace trainer {

/// What each of a run's random streams is for: the streams are made from the run's seed and
/// these, so that drawing for one purpose never shifts another (the plot's extra evaluations,
/// for one, must not change what training draws).
enum Purpose : std::uint32_t {
  kInitialWeights = 0,
  kShuffling = 1,
  kTrainingNetwork = 2,    ///< the oscillator's draws while training
  kEvaluationNetwork = 3,  ///< those of the final evaluation, made afresh
  kMonitorNetwork = 4,     ///< those of the test loss after each epoch, for the plot
  kSplitting = 5,          ///< which rows are held out, with --split random
  kValidationNetwork = 6,  ///< those of the validation loss after each epoch
};

/// One of several independent generators made from a run's seed.
std::mt19937 random_stream(std::uint32_t seed, std::uint32_t purpose);

/// An index below `bound` (at least 1, below 2^32), every one equally likely, the same on
/// every platform.
std::size_t draw_below(std::mt19937& engine, std::size_t bound);

/// Shuffles `order` in place (Fisher-Yates with draw_below).
void shuffle(std::vector<std::size_t>& order, std::mt19937& engine);

}  // namespace trainer

#endif
