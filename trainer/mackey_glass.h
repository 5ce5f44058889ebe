#ifndef OSCNET_TRAINER_MACKEY_GLASS_H
#define OSCNET_TRAINER_MACKEY_GLASS_H

#include <vector>

#include "trainer/dataset.h"

namespace trainer {

/// x(0), x(1), ..., x(last_t) of dx/dt = 0.2 x(t-17) / (1 + x(t-17)^10) - 0.1 x(t), with
/// x(0) = 1.2 and x(t) = 0 before 0, integrated by fourth-order Runge-Kutta with step 0.1.
std::vector<double> mackey_glass_series(int last_t);

/// Rows for t = 118 .. 1117: inputs x(t-18), x(t-12), x(t-6), x(t), target x(t+6).
Dataset mackey_glass_dataset();

}  // namespace trainer

#endif
