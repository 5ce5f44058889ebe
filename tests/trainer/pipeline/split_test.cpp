// The split step: how many rows train and test, and the refusal of too few rows.
#include <gtest/gtest.h>

#include <string>

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
  const RowSplit fifth = split_rows(rows_only(10), 0.2);
  EXPECT_EQ(fifth.training_rows, 8u);
  EXPECT_EQ(fifth.test_rows, 2u);
  const RowSplit rounded = split_rows(rows_only(10), 0.26);
  EXPECT_EQ(rounded.training_rows, 7u);
  EXPECT_EQ(rounded.test_rows, 3u);
  const RowSplit none = split_rows(rows_only(5), 0.0);
  EXPECT_EQ(none.training_rows, 5u);
  EXPECT_EQ(none.test_rows, 0u);
}

TEST(SplitRows, RefusesToLeaveNoTrainingRow) {
  try {
    split_rows(rows_only(3), 0.9);
    FAIL() << "held out every row";
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()),
              "d.csv (some rows): too few rows to train on after holding out 3 rows for testing");
  }
}

TEST(SplitRows, RefusesAFractionThatRoundsToNoRow) {
  try {
    split_rows(rows_only(4), 0.1);
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

}  // namespace
}  // namespace trainer
