#ifndef OSCNET_TRAINER_WORK_COUNTER_H
#define OSCNET_TRAINER_WORK_COUNTER_H

#include <cstddef>

namespace trainer {

/// Steps of work done by a reader or a formatter (bytes looked at, keys compared), so that
/// tests can check that the work grows in proportion to the input rather than faster.
struct WorkCounter {
  std::size_t steps = 0;
};

/// Adds `steps` to `counter` when there is one.
inline void count_work(WorkCounter* counter, std::size_t steps = 1) {
  if (counter != nullptr) counter->steps += steps;
}

}  // namespace trainer

#endif
