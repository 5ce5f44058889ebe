#include "trainer/pipeline/evaluate.h"

#include <limits>

#include "trainer/metrics.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/scale.h"
#include "trainer/pipeline/training_failed.h"

namespace trainer {
namespace {

// Rows [first, first + count) of row-by-row `cells` of `width` columns.
std::vector<double> rows_of(const std::vector<double>& cells, std::size_t width, std::size_t first,
                            std::size_t count) {
  return std::vector<double>(cells.begin() + static_cast<std::ptrdiff_t>(first * width),
                             cells.begin() + static_cast<std::ptrdiff_t>((first + count) * width));
}

// The loss of always predicting the training rows' mean, in scaled units, on rows
// [first, first + count).
double mean_loss_of_training_mean(const RunState& state, std::size_t first, std::size_t count) {
  const std::vector<double> means = column_means(
      rows_of(state.scaled_targets, state.out(), 0, state.training_rows()), state.out());
  std::vector<double> predicted;
  for (std::size_t r = 0; r < count; ++r)
    predicted.insert(predicted.end(), means.begin(), means.end());
  return mean_loss(predicted, state, first, count);
}

}  // namespace

Outcome evaluate(const RunState& state, std::uint32_t seed, const std::vector<double>& params) {
  Network network = make_network(state, seed, kEvaluationNetwork, params);
  Outcome outcome;
  outcome.training_truth = rows_of(state.data.targets, state.out(), 0, state.training_rows());
  outcome.test_truth =
      rows_of(state.data.targets, state.out(), state.test_start(), state.test_rows());
  const std::vector<double> training = scaled_predictions(network, state, 0, state.training_rows());
  outcome.training_loss = mean_loss(training, state, 0, state.training_rows());
  outcome.training_predicted = unscaled(training, state);
  const std::vector<double> test =
      scaled_predictions(network, state, state.test_start(), state.test_rows());
  outcome.test_predicted = unscaled(test, state);
  outcome.validation_loss = std::numeric_limits<double>::quiet_NaN();
  if (state.validation_rows() > 0) {
    const std::size_t first = state.validation_start();
    outcome.validation_loss =
        mean_loss(scaled_predictions(network, state, first, state.validation_rows()), state, first,
                  state.validation_rows());
    outcome.held_out_rows = "validation";
    outcome.held_out_loss = outcome.validation_loss;
    outcome.mean_held_out_loss = mean_loss_of_training_mean(state, first, state.validation_rows());
  } else if (state.test_rows() > 0) {
    outcome.held_out_rows = "test";
    outcome.held_out_loss = mean_loss(test, state, state.test_start(), state.test_rows());
    outcome.mean_held_out_loss =
        mean_loss_of_training_mean(state, state.test_start(), state.test_rows());
  }
  // Each epoch's loss is measured before each step, so a last step that overflows shows only
  // here, in the trained network itself.
  if (!all_finite(params) || !all_finite(outcome.training_predicted)) {
    throw TrainingFailed(
        "training diverged: the trained network's weights or outputs are not finite numbers; "
        "try a smaller --lr");
  }
  return outcome;
}

}  // namespace trainer
