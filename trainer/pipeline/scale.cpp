#include "trainer/pipeline/scale.h"

#include "trainer/pipeline/defaults.h"

namespace trainer {
namespace {

ColumnScaling scaling_of(ScaleChoice choice, const std::vector<double>& cells, std::size_t columns,
                         std::size_t rows) {
  switch (choice) {
    case ScaleChoice::minmax:
      return ColumnScaling::to_unit_range(cells, columns, rows);
    case ScaleChoice::standard:
      return ColumnScaling::to_standard(cells, columns, rows);
    case ScaleChoice::none:
      break;
  }
  return ColumnScaling::identity(columns);
}

}  // namespace

ScaleChoice scale_choice_for(const Options& options) {
  return options.scaling.value_or(kDefaultScaling);
}

void scale_columns(RunState& state) {
  const Dataset& data = state.data;
  const std::size_t rows = state.training_rows();
  const ScaleChoice choice = scale_choice_for(state.options);
  state.input_scaling = scaling_of(choice, data.inputs, state.in(), rows);
  state.target_scaling = scaling_of(choice, data.targets, state.out(), rows);
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
