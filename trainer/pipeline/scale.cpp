#include "trainer/pipeline/scale.h"

namespace trainer {

void scale_columns(RunState& state) {
  const Dataset& data = state.data;
  const std::size_t rows = state.training_rows();
  const bool scale = state.options.scaling.value_or(ScaleChoice::minmax) != ScaleChoice::none;
  state.input_scaling = scale ? ColumnScaling::to_unit_range(data.inputs, state.in(), rows)
                              : ColumnScaling::identity(state.in());
  state.target_scaling = scale ? ColumnScaling::to_unit_range(data.targets, state.out(), rows)
                               : ColumnScaling::identity(state.out());
  state.scaled_inputs = data.inputs;
  state.input_scaling.apply(state.scaled_inputs);
  state.scaled_targets = data.targets;
  state.target_scaling.apply(state.scaled_targets);
}

std::vector<double> unscaled(std::vector<double> predicted, const RunState& state) {
  for (std::size_t r = 0; r < predicted.size() / state.out(); ++r) {
    state.target_scaling.invert_row(&predicted[r * state.out()]);
  }
  return predicted;
}

}  // namespace trainer
