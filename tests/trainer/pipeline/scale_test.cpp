// The scale step: scaling chosen on the training rows alone, applied to every row, inverted for
// the report.
#include <gtest/gtest.h>

#include "made_up_state.h"
#include "trainer/pipeline/scale.h"

namespace trainer {
namespace {

// Four training rows spanning [0, 8] and [10, 30], and a test row beyond both.
Dataset ranged_data() {
  return made_up_data(1, 1, {0, 2, 8, 4, 16}, {10, 30, 20, 20, 50});
}

TEST(ScaleColumns, RangesOfTheTrainingRowsAloneAppliedToEveryRow) {
  const RunState state = made_up_state(ranged_data());
  ASSERT_EQ(state.training_rows(), 4u);
  EXPECT_EQ(state.scaled_inputs, (std::vector<double>{-1, -0.5, 1, 0, 3}));
  EXPECT_EQ(state.scaled_targets, (std::vector<double>{-1, 1, 0, 0, 3}));
}

TEST(ScaleColumns, NoneLeavesTheNumbersAlone) {
  Options options;
  options.scaling = ScaleChoice::none;
  const RunState state = made_up_state(ranged_data(), options);
  EXPECT_EQ(state.scaled_inputs, state.data.inputs);
  EXPECT_EQ(state.scaled_targets, state.data.targets);
}

TEST(Unscaled, BringsOutputsBackToTheDatasUnits) {
  const RunState state = made_up_state(ranged_data());
  EXPECT_EQ(unscaled(state.scaled_targets, state), state.data.targets);
  EXPECT_EQ(unscaled({0.5, -0.5}, state), (std::vector<double>{25, 15}));
}

TEST(Unscaled, EachOfSeveralTargetsByItsOwnScaling) {
  const RunState state =
      made_up_state(made_up_data(1, 2, {0, 1, 2, 3, 4}, {0, 100, 1, 300, 2, 200, 1, 100, 0, 0}));
  EXPECT_EQ(unscaled({0, 0, 1, 1}, state), (std::vector<double>{1, 200, 2, 300}));
}

}  // namespace
}  // namespace trainer
