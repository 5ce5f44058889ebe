#include "trainer/pipeline/evaluate.h"

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

}  // namespace

Outcome evaluate(const RunState& state, std::uint32_t seed, const std::vector<double>& params) {
  Network network = make_network(state, seed, kEvaluationNetwork, params);
  Outcome outcome;
  outcome.training_truth = rows_of(state.data.targets, state.out(), 0, state.training_rows());
  outcome.test_truth =
      rows_of(state.data.targets, state.out(), state.training_rows(), state.test_rows());
  const std::vector<double> training = scaled_predictions(network, state, 0, state.training_rows());
  outcome.training_loss = mean_loss(training, state, 0, state.training_rows());
  outcome.training_predicted = unscaled(training, state);
  outcome.test_predicted =
      unscaled(scaled_predictions(network, state, state.training_rows(), state.test_rows()), state);
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
