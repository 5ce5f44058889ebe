#ifndef OSCNET_TRAINER_PIPELINE_DIVERGENCE_H
#define OSCNET_TRAINER_PIPELINE_DIVERGENCE_H

#include <string>
#include <utility>

namespace trainer {

/// Watches one loss from epoch to epoch and throws TrainingFailed, with a hint to lower the
/// learning rate, once it has left the range of numbers or grown kDivergenceGrowth times its
/// first epoch's: a run that far gone never comes back, and stopping early saves its epochs.
class DivergenceWatch {
 public:
  /// `what` names the loss in messages: "the loss", "the validation loss".
  explicit DivergenceWatch(std::string what) : what_(std::move(what)) {}

  /// Takes the loss after `epoch` (counted from 1).
  void check(int epoch, double loss);

 private:
  std::string what_;
  double first_ = 0.0;
  bool started_ = false;
};

}  // namespace trainer

#endif
