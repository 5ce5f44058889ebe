// The evaluate step: the figures of known weights on a tiny hand-made set, in the data's units.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "made_up_state.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/training_failed.h"

namespace trainer {
namespace {

// Training targets span [0, 4], so an output of 0 in scaled units is 2 in the data's.
RunState hand_made_state() {
  Options options;
  options.test_fraction = 0.4;
  return made_up_state(made_up_data(1, 1, {1, 2, 3, 4, 5}, {0, 4, 1, 7, -1}), options);
}

TEST(Evaluate, ZeroWeightsPredictTheMiddleOfTheTrainingTargets) {
  const RunState state = hand_made_state();
  const std::vector<double> zeros(layout_of(state).count(), 0.0);
  const Outcome outcome = evaluate(state, 1, zeros);
  EXPECT_EQ(outcome.training_truth, (std::vector<double>{0, 4, 1}));
  EXPECT_EQ(outcome.test_truth, (std::vector<double>{7, -1}));
  EXPECT_EQ(outcome.training_predicted, (std::vector<double>{2, 2, 2}));
  EXPECT_EQ(outcome.test_predicted, (std::vector<double>{2, 2}));
  // Scaled targets -1, 1, -0.5 against 0.
  EXPECT_DOUBLE_EQ(outcome.training_loss, (1 + 1 + 0.25) / 3);
}

TEST(Evaluate, TheOutputBiasShiftsEveryPrediction) {
  const RunState state = hand_made_state();
  std::vector<double> params(layout_of(state).count(), 0.0);
  params.back() = 0.5;  // the output's bias: 0.5 in scaled units is 3 in the data's
  const Outcome outcome = evaluate(state, 1, params);
  EXPECT_EQ(outcome.test_predicted, (std::vector<double>{3, 3}));
  EXPECT_DOUBLE_EQ(outcome.training_loss, (2.25 + 0.25 + 1) / 3);
}

TEST(Evaluate, WeightsBeyondTheNumbersAreADivergence) {
  const RunState state = hand_made_state();
  std::vector<double> params(layout_of(state).count(), 0.0);
  params.front() = std::numeric_limits<double>::infinity();
  EXPECT_THROW(evaluate(state, 1, params), TrainingFailed);
}

TEST(Evaluate, TheValidationRowsJudgeTheNetworkAgainstTheTrainingMean) {
  Options options;
  options.test_fraction = 1.0 / 3;
  options.validation_fraction = 0.25;
  // Training targets 0, 4, 2 (scaled -1, 1, 0: mean 0), validation 3, test 1 and 2.
  const RunState state =
      made_up_state(made_up_data(1, 1, {1, 2, 3, 4, 5, 6}, {0, 4, 2, 3, 1, 2}), options);
  ASSERT_EQ(state.validation_rows(), 1u);
  std::vector<double> params(layout_of(state).count(), 0.0);
  params.back() = 1.0;  // every output 1 in scaled units: 4 in the data's
  const Outcome outcome = evaluate(state, 1, params);
  EXPECT_EQ(outcome.test_truth, (std::vector<double>{1, 2}));
  EXPECT_EQ(outcome.held_out_rows, "validation");
  EXPECT_DOUBLE_EQ(outcome.validation_loss, 0.25);  // 3 is 0.5 scaled
  EXPECT_DOUBLE_EQ(outcome.held_out_loss, 0.25);
  EXPECT_DOUBLE_EQ(outcome.mean_held_out_loss, 0.25);

  Options no_validation = options;
  no_validation.validation_fraction = 0.0;
  const RunState tested =
      made_up_state(made_up_data(1, 1, {1, 2, 3, 4, 5, 6}, {0, 4, 2, 3, 1, 2}), no_validation);
  const Outcome on_test = evaluate(tested, 1, params);
  EXPECT_EQ(on_test.held_out_rows, "test");
  EXPECT_TRUE(std::isnan(on_test.validation_loss));
}

}  // namespace
}  // namespace trainer
