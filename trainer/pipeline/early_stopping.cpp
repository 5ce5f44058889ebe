#include "trainer/pipeline/early_stopping.h"

namespace trainer {

bool EarlyStopping::improved(int epoch, double loss) {
  if (best_epoch_ != 0 && !(loss < best_loss_)) return false;
  best_epoch_ = epoch;
  best_loss_ = loss;
  return true;
}

bool EarlyStopping::should_stop(int epoch) const {
  return patience_ > 0 && best_epoch_ > 0 && epoch - best_epoch_ >= patience_;
}

}  // namespace trainer
