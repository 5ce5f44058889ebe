#include "trainer/pipeline/divergence.h"

#include <cmath>
#include <cstdio>

#include "trainer/pipeline/defaults.h"
#include "trainer/pipeline/training_failed.h"

namespace trainer {
namespace {

std::string loss_text(double loss) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", loss);
  return text;
}

}  // namespace

void DivergenceWatch::check(int epoch, double loss) {
  if (!std::isfinite(loss)) {
    throw TrainingFailed("training diverged: " + what_ + " left the range of numbers in epoch " +
                         std::to_string(epoch) + "; try a smaller --lr");
  }
  if (!started_) {
    started_ = true;
    first_ = loss;
    return;
  }
  // A first loss of 0 has nothing to grow from: only leaving the numbers counts then.
  if (first_ > 0.0 && loss > kDivergenceGrowth * first_) {
    throw TrainingFailed("training diverged: " + what_ + " grew from " + loss_text(first_) +
                         " in the first epoch to " + loss_text(loss) + " in epoch " +
                         std::to_string(epoch) + "; try a smaller --lr");
  }
}

}  // namespace trainer
