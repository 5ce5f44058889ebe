#ifndef OSCNET_TRAINER_PIPELINE_EARLY_STOPPING_H
#define OSCNET_TRAINER_PIPELINE_EARLY_STOPPING_H

namespace trainer {

/// Follows the validation loss from epoch to epoch: which epoch was best, and when to stop.
class EarlyStopping {
 public:
  /// Stops after `patience` epochs without a better loss; 0: never early.
  explicit EarlyStopping(int patience) : patience_(patience) {}

  /// Takes the loss after `epoch` (counted from 1); true when it is lower than every earlier
  /// one, so that this epoch's weights are the ones to keep. Equal is not better: the earlier
  /// epoch, reached with less fitting, stays the best.
  bool improved(int epoch, double loss);
  /// True once `patience` epochs have passed since the best one.
  bool should_stop(int epoch) const;

  /// 0 before any epoch.
  int best_epoch() const { return best_epoch_; }
  double best_loss() const { return best_loss_; }

 private:
  int patience_;
  int best_epoch_ = 0;
  double best_loss_ = 0.0;
};

}  // namespace trainer

#endif
