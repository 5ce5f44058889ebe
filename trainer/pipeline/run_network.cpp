#include "trainer/pipeline/run_network.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "trainer/input_error.h"
#include "trainer/pipeline/scale.h"

namespace trainer {
namespace {

// The library draws its initial weights the same way; drawing them here keeps them what they
// were before networks had seeds of their own.
constexpr double kInitialWeightDeviation = 0.01;

}  // namespace

WeightLayout layout_of(const RunState& state) {
  WeightLayout layout;
  layout.widths.push_back(static_cast<int>(state.in()));
  for (const HiddenLayer& layer : state.layers) layout.widths.push_back(layer.units);
  layout.widths.push_back(static_cast<int>(state.out()));
  return layout;
}

Network make_network(const RunState& state, std::uint32_t seed, Purpose purpose,
                     const std::vector<double>& params) {
  Network network(static_cast<int>(state.in()), static_cast<int>(state.out()), state.layers,
                  random_stream(seed, purpose)());
  network.set_params(params);
  return network;
}

std::vector<double> initial_weights(const RunState& state, std::uint32_t seed) {
  const WeightLayout layout = layout_of(state);
  std::vector<double> params(layout.count());
  if (!state.options.load_path.empty()) {
    params = state.loaded.params;
    unfold_scaling(params, layout, state.input_scaling, state.target_scaling);
    if (!all_finite(params)) {
      throw InputError(state.options.load_path +
                       ": its weights are too large to work on this data's scale");
    }
  } else {
    std::mt19937 engine = random_stream(seed, kInitialWeights);
    std::normal_distribution<double> draw(0.0, kInitialWeightDeviation);
    for (double& value : params) value = draw(engine);
  }
  return params;
}

std::vector<double> scaled_predictions(Network& network, const RunState& state, std::size_t first,
                                       std::size_t count) {
  std::vector<double> predicted(count * state.out());
  network.predict_rows(&state.scaled_inputs[first * state.in()], count, predicted.data());
  return predicted;
}

double mean_loss(const std::vector<double>& predicted, const RunState& state, std::size_t first,
                 std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count * state.out(); ++i) {
    const double error = predicted[i] - state.scaled_targets[first * state.out() + i];
    sum += error * error;
  }
  return sum / static_cast<double>(count);
}

double row_loss(Network& network, const RunState& state, std::size_t r,
                std::vector<double>& output) {
  network.predict(&state.scaled_inputs[r * state.in()], output.data());
  double sum = 0.0;
  for (std::size_t k = 0; k < state.out(); ++k) {
    const double error = output[k] - state.scaled_targets[r * state.out() + k];
    sum += error * error;
  }
  return sum;
}

bool all_finite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

void check_network(const RunState& state) {
  [[maybe_unused]] const Network probe(static_cast<int>(state.in()), static_cast<int>(state.out()),
                                       state.layers, 0);
}

void check_loaded_outputs(const RunState& state) {
  const std::uint32_t seed = state.seed(0);
  Network network = make_network(state, seed, kEvaluationNetwork, initial_weights(state, seed));
  const std::vector<double> outputs =
      unscaled(scaled_predictions(network, state, 0, state.training_rows()), state);
  if (!all_finite(outputs)) {
    throw InputError(state.options.load_path +
                     ": its network's outputs on this data are beyond the range of numbers");
  }
}

}  // namespace trainer
