// The split step: how many rows train and test, and the refusal of too few rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "trainer/input_error.h"
#include "trainer/pipeline/split.h"

namespace trainer {
namespace {

Dataset rows_only(std::size_t rows) {
  Dataset data;
  data.description = "d.csv (some rows)";
  data.rows = rows;
  return data;
}

TEST(SplitRows, HoldsOutTheFractionRoundedToTheNearestRow) {
  const RowSplit fifth = split_rows(rows_only(10), 0.2, 0.0, false, SplitChoice::tail, 1);
  EXPECT_EQ(fifth.training_rows, 8u);
  EXPECT_EQ(fifth.test_rows, 2u);
  const RowSplit rounded = split_rows(rows_only(10), 0.26, 0.0, false, SplitChoice::tail, 1);
  EXPECT_EQ(rounded.training_rows, 7u);
  EXPECT_EQ(rounded.test_rows, 3u);
  const RowSplit none = split_rows(rows_only(5), 0.0, 0.0, false, SplitChoice::tail, 1);
  EXPECT_EQ(none.training_rows, 5u);
  EXPECT_EQ(none.test_rows, 0u);
}

TEST(SplitRows, RefusesToLeaveNoTrainingRow) {
  try {
    split_rows(rows_only(3), 0.9, 0.0, false, SplitChoice::tail, 1);
    FAIL() << "held out every row";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()),
              "d.csv (some rows): too few rows to train on after holding out 3 rows for testing");
  }
}

TEST(SplitRows, RefusesAFractionThatRoundsToNoRow) {
  try {
    split_rows(rows_only(4), 0.1, 0.0, false, SplitChoice::tail, 1);
    FAIL() << "a fraction above 0 held out no row";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("a fraction of 0.1 for testing"), std::string::npos)
        << error.what();
  }
}

TEST(TestFraction, HalfTheSeriesAFifthOfAFileOrAsGiven) {
  Options options;
  EXPECT_EQ(test_fraction_for(options), 0.5);
  options.data_path = "d.csv";
  EXPECT_EQ(test_fraction_for(options), 0.2);
  options.test_fraction = 0.0;
  EXPECT_EQ(test_fraction_for(options), 0.0);
}

RowSplit split_of(std::size_t rows, double test, double validation, SplitChoice choice,
                  std::uint32_t seed = 1) {
  return split_rows(rows_only(rows), test, validation, true, choice, seed);
}

TEST(SplitRows, ValidationRowsComeFromTheTrainingRows) {
  const RowSplit split = split_of(100, 0.2, 0.25, SplitChoice::tail);
  EXPECT_EQ(split.training_rows, 60u);
  EXPECT_EQ(split.validation_rows, 20u);
  EXPECT_EQ(split.test_rows, 20u);
  // In order: the validation rows are the last training rows, the test rows the last of all.
  EXPECT_TRUE(split.order.empty());
}

TEST(SplitRows, AGivenValidationFractionMustLeaveRowsOnBothSides) {
  EXPECT_THROW(split_of(10, 0.2, 0.01, SplitChoice::tail), InputError);
  try {
    split_of(5, 0.2, 0.9, SplitChoice::tail);
    FAIL() << "held out every training row for validation";
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("for testing and 4 rows for validation"),
              std::string::npos)
        << error.what();
  }
  // Only the default: data too small for it trains without validation rows.
  const RowSplit small = split_rows(rows_only(3), 0.2, 0.2, false, SplitChoice::tail, 1);
  EXPECT_EQ(small.training_rows, 2u);
  EXPECT_EQ(small.validation_rows, 0u);
}

// The parts of a random split, as rows of the data.
std::vector<std::vector<std::size_t>> parts_of(const RowSplit& split) {
  const auto part = [&](std::size_t first, std::size_t count) {
    return std::vector<std::size_t>(
        split.order.begin() + static_cast<std::ptrdiff_t>(first),
        split.order.begin() + static_cast<std::ptrdiff_t>(first + count));
  };
  return {part(0, split.training_rows), part(split.training_rows, split.validation_rows),
          part(split.training_rows + split.validation_rows, split.test_rows)};
}

TEST(SplitRows, RandomIsSeededRepeatableAndEveryRowOnce) {
  const RowSplit split = split_of(50, 0.2, 0.25, SplitChoice::random, 7);
  ASSERT_EQ(split.order.size(), 50u);
  std::vector<std::size_t> all = split.order;
  std::sort(all.begin(), all.end());
  for (std::size_t r = 0; r < 50; ++r) EXPECT_EQ(all[r], r);
  for (const auto& part : parts_of(split)) EXPECT_TRUE(std::is_sorted(part.begin(), part.end()));
  // Not the tail: some test row lies before the last ten.
  EXPECT_LT(parts_of(split)[2].front(), 40u);

  EXPECT_EQ(split_of(50, 0.2, 0.25, SplitChoice::random, 7).order, split.order);
  EXPECT_NE(split_of(50, 0.2, 0.25, SplitChoice::random, 8).order, split.order);
  // The test rows do not depend on how many validation rows are drawn after them.
  EXPECT_EQ(parts_of(split_of(50, 0.2, 0.0, SplitChoice::random, 7))[2], parts_of(split)[2]);
}

TEST(ArrangeRows, TrainingThenValidationThenTestRowsWithAllThatBelongsToThem) {
  Dataset data = rows_only(4);
  data.input_names = {"x"};
  data.target_names = {"y"};
  data.inputs = {0, 1, 2, 3};
  data.targets = {10, 11, 12, 13};
  data.row_labels = {"a", "b", "c", "d"};
  data.current_values = {20, 21, 22, 23};
  RowSource source;
  source.rows = {5, 6, 7, 8};  // the table rows they came from
  RowSplit split;
  split.order = {1, 3, 0, 2};
  arrange_rows(data, source, split);
  EXPECT_EQ(data.current_values, (std::vector<double>{21, 23, 20, 22}));
  EXPECT_EQ(source.rows, (std::vector<std::size_t>{6, 8, 5, 7}));
  EXPECT_EQ(data.inputs, (std::vector<double>{1, 3, 0, 2}));
  EXPECT_EQ(data.targets, (std::vector<double>{11, 13, 10, 12}));
  EXPECT_EQ(data.row_labels, (std::vector<std::string>{"b", "d", "a", "c"}));
}

TEST(DefaultSplit, TailForSeriesRandomForTablesOrAsGiven) {
  Options options;
  Dataset data;
  EXPECT_EQ(split_choice_for(options, data), SplitChoice::tail);  // the built-in series
  options.data_path = "d.csv";
  EXPECT_EQ(split_choice_for(options, data), SplitChoice::random);
  data.time_ordered = true;
  EXPECT_EQ(split_choice_for(options, data), SplitChoice::tail);
  options.split = SplitChoice::random;
  EXPECT_EQ(split_choice_for(options, data), SplitChoice::random);
}

TEST(ValidationFraction, TheDefaultOrAsGivenAndPatienceNeedsValidation) {
  Options options;
  EXPECT_EQ(validation_fraction_for(options), 0.0);  // the built-in series
  options.data_path = "d.csv";
  EXPECT_EQ(validation_fraction_for(options), 0.2);
  options.validation_fraction = 0.0;
  EXPECT_EQ(validation_fraction_for(options), 0.0);
  options.patience = 3;
  EXPECT_THROW(validation_fraction_for(options), InputError);
  options.patience = 0;
  EXPECT_EQ(validation_fraction_for(options), 0.0);
}

RunState state_with_targets(std::vector<double> targets, std::size_t width,
                            std::vector<std::string> classes = {}) {
  RunState state;
  state.data.rows = targets.size() / width;
  state.data.target_names.assign(width, "y");
  state.data.targets = std::move(targets);
  state.data.class_names = std::move(classes);
  state.split.training_rows = state.data.rows - 2;
  state.split.test_rows = 2;
  return state;
}

TEST(SplitWarnings, AConstantTargetOrOneClassOnTheTestRows) {
  EXPECT_TRUE(split_warnings(state_with_targets({1, 2, 3, 4}, 1)).empty());
  const std::vector<std::string> constant = split_warnings(state_with_targets({1, 2, 5, 5}, 1));
  ASSERT_EQ(constant.size(), 1u);
  EXPECT_NE(constant[0].find("target 'y' is 5 on all 2 test rows"), std::string::npos)
      << constant[0];
  EXPECT_NE(constant[0].find("--split random"), std::string::npos) << constant[0];

  const std::vector<std::string> classes = {"cat", "dog"};
  EXPECT_TRUE(split_warnings(state_with_targets({1, 0, 0, 1, 1, 0, 0, 1}, 2, classes)).empty());
  const std::vector<std::string> one =
      split_warnings(state_with_targets({1, 0, 1, 0, 0, 1, 0, 1}, 2, classes));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_NE(one[0].find("hold one class, 'dog'"), std::string::npos) << one[0];
}

}  // namespace
}  // namespace trainer
