// Run states over small made-up tables, prepared as the program prepares them, for the steps'
// tests.
#ifndef OSCNET_TESTS_TRAINER_PIPELINE_MADE_UP_STATE_H
#define OSCNET_TESTS_TRAINER_PIPELINE_MADE_UP_STATE_H

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/scale.h"
#include "trainer/pipeline/split.h"

namespace trainer {

/// `rows` rows of `inputs` and `targets` columns, row by row.
inline Dataset made_up_data(std::size_t in, std::size_t out, std::vector<double> inputs,
                            std::vector<double> targets) {
  Dataset data;
  data.name = "made.csv";
  data.description = "made.csv (made up)";
  for (std::size_t c = 0; c < in; ++c) data.input_names.push_back("x" + std::to_string(c + 1));
  for (std::size_t c = 0; c < out; ++c) data.target_names.push_back("y" + std::to_string(c + 1));
  data.rows = inputs.size() / in;
  data.inputs = std::move(inputs);
  data.targets = std::move(targets);
  return data;
}

/// y = sin(3 x1) + x2 / 2 on a grid of `rows` rows (a count prime to 13) in shuffled order, so
/// that the last rows lie among the others: smooth, easily learned, not linear.
inline Dataset smooth_data(std::size_t rows) {
  std::vector<double> inputs, targets;
  for (std::size_t r = 0; r < rows; ++r) {
    const double x1 =
        -1.0 + 2.0 * static_cast<double>(r * 13 % rows) / static_cast<double>(rows - 1);
    const double x2 = static_cast<double>((r * 7) % 11) / 10.0;
    inputs.insert(inputs.end(), {x1, x2});
    targets.push_back(std::sin(3.0 * x1) + x2 / 2.0);
  }
  return made_up_data(2, 1, inputs, targets);
}

/// The state the program prepares for `data` and `options`: split by --test-fraction (a fifth
/// unset), --validation-fraction (none unset) and --split (tail unset), scaled on the training
/// rows, with small tanh layers unless --layers says otherwise.
inline RunState made_up_state(Dataset data, Options options = {}) {
  if (!options.test_fraction) options.test_fraction = 0.2;
  if (options.data_path.empty()) options.data_path = "made.csv";
  RunState state;
  state.options = options;
  state.data = std::move(data);
  state.layers =
      options.layers.empty() ? std::vector<HiddenLayer>{{6, Activation::tanh}} : options.layers;
  state.epochs = options.epochs.value_or(0);
  state.split =
      split_rows(state.data, *options.test_fraction, options.validation_fraction.value_or(0.0),
                 options.validation_fraction.has_value(), options.split.value_or(SplitChoice::tail),
                 options.seed);
  arrange_rows(state.data, state.source, state.split);
  scale_columns(state);
  return state;
}

/// What `print` writes to a stream, as text.
template <typename Print>
std::string printed(Print print) {
  std::FILE* file = std::tmpfile();
  print(file);
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

}  // namespace trainer

#endif
