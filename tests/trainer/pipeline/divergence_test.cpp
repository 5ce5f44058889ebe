// Divergence: a loss that leaves the numbers, or grows a millionfold, ends training with a hint.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "trainer/pipeline/divergence.h"
#include "trainer/pipeline/training_failed.h"

namespace trainer {
namespace {

std::string failure_of(DivergenceWatch& watch, int epoch, double loss) {
  try {
    watch.check(epoch, loss);
  } catch (const TrainingFailed& error) {
    return error.what();
  }
  return "";
}

TEST(DivergenceWatch, ALossBeyondTheNumbers) {
  DivergenceWatch watch("the loss");
  watch.check(1, 0.5);
  EXPECT_EQ(failure_of(watch, 2, std::numeric_limits<double>::infinity()),
            "training diverged: the loss left the range of numbers in epoch 2; try a smaller --lr");
  DivergenceWatch first("the validation loss");
  EXPECT_NE(failure_of(first, 1, std::nan("")).find("the validation loss left"), std::string::npos);
}

TEST(DivergenceWatch, ALossGrownAMillionfoldFromTheFirstEpochs) {
  DivergenceWatch watch("the loss");
  watch.check(1, 0.25);
  EXPECT_EQ(failure_of(watch, 2, 0.25e6), "");  // at the bound, not beyond it
  EXPECT_EQ(failure_of(watch, 3, 1e-9), "");
  EXPECT_EQ(failure_of(watch, 4, 3e5),
            "training diverged: the loss grew from 0.25 in the first epoch to 3e+05 in epoch 4; "
            "try a smaller --lr");
}

TEST(DivergenceWatch, AFirstLossOfZeroHasNothingToGrowFrom) {
  DivergenceWatch watch("the loss");
  watch.check(1, 0.0);
  EXPECT_EQ(failure_of(watch, 2, 1e30), "");
  EXPECT_NE(failure_of(watch, 3, std::numeric_limits<double>::infinity()), "");
}

}  // namespace
}  // namespace trainer
