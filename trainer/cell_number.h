#ifndef OSCNET_TRAINER_CELL_NUMBER_H
#define OSCNET_TRAINER_CELL_NUMBER_H

#include <string_view>

#include "trainer/work_counter.h"

namespace trainer {

/// What a CSV cell holds, as far as numbers go.
enum class CellKind { number, empty, not_finite, out_of_range, text };

/// Reads a trimmed cell as a decimal number with an optional sign and exponent; `value` is set
/// for number, not_finite ("nan", "inf") and the values that underflow to zero. `counter`, if
/// given, counts the bytes looked at.
CellKind read_number(std::string_view text, double& value, WorkCounter* counter = nullptr);

}  // namespace trainer

#endif
