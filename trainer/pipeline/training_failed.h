#ifndef OSCNET_TRAINER_PIPELINE_TRAINING_FAILED_H
#define OSCNET_TRAINER_PIPELINE_TRAINING_FAILED_H

#include <stdexcept>

namespace trainer {

/// Training went wrong in a way the user can mend (a learning rate too large): exit status 1.
class TrainingFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace trainer

#endif
