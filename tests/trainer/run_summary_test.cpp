// Several runs: which one is kept, their mean and spread, and the table that shows them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "trainer/report.h"
#include "trainer/run_summary.h"

namespace trainer {
namespace {

RunFigures run_of(std::uint32_t seed, double training_loss, double training_rmse,
                  double test_rmse) {
  RunFigures run;
  run.seed = seed;
  run.training_loss = training_loss;
  run.training = {training_rmse, training_rmse / 2};
  run.test = {test_rmse, test_rmse / 2};
  return run;
}

TEST(KeptRun, TheLowestTrainingLossNeverTheTestFigures) {
  // Seed 11 does best on the test rows, seed 12 on the training rows.
  const std::vector<RunFigures> runs = {run_of(10, 3.0, 1.0, 1.0), run_of(11, 2.0, 1.0, 0.1),
                                        run_of(12, 1.0, 1.0, 5.0), run_of(13, 4.0, 1.0, 1.0)};
  EXPECT_EQ(kept_run(runs), 2u);
}

TEST(KeptRun, TheFirstOfEqualsAndASingleRun) {
  EXPECT_EQ(kept_run({run_of(1, 2.0, 1, 1), run_of(2, 1.0, 1, 1), run_of(3, 1.0, 1, 1)}), 1u);
  EXPECT_EQ(kept_run({run_of(7, 5.0, 1, 1)}), 0u);
}

TEST(RunSpread, MeanAndSampleDeviationByHand) {
  // Training RMSE 1, 2, 6: mean 3, squares about it 4 + 1 + 9 = 14, over 2: deviation sqrt(7).
  // Test RMSE 2, 2, 2: no spread.
  const RunSpread spread =
      spread_of({run_of(1, 0, 1.0, 2.0), run_of(2, 0, 2.0, 2.0), run_of(3, 0, 6.0, 2.0)});
  EXPECT_DOUBLE_EQ(spread.training_mean.rmse, 3.0);
  EXPECT_DOUBLE_EQ(spread.training_deviation.rmse, std::sqrt(7.0));
  EXPECT_DOUBLE_EQ(spread.training_mean.nrmse, 1.5);
  EXPECT_DOUBLE_EQ(spread.training_deviation.nrmse, std::sqrt(7.0) / 2);
  EXPECT_DOUBLE_EQ(spread.test_mean.rmse, 2.0);
  EXPECT_DOUBLE_EQ(spread.test_deviation.rmse, 0.0);
  EXPECT_DOUBLE_EQ(spread.test_mean.nrmse, 1.0);
}

TEST(RunSpread, ASingleRunHasNoSpread) {
  const RunSpread spread = spread_of({run_of(1, 0, 4.0, 8.0)});
  EXPECT_DOUBLE_EQ(spread.training_mean.rmse, 4.0);
  EXPECT_DOUBLE_EQ(spread.training_deviation.rmse, 0.0);
  EXPECT_DOUBLE_EQ(spread.test_deviation.nrmse, 0.0);
}

std::vector<std::string> printed_lines(const std::vector<RunFigures>& runs, bool test_rows) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  print_runs(file, runs, test_rows);
  std::rewind(file);
  std::vector<std::string> lines;
  std::string line;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  std::fclose(file);
  return lines;
}

TEST(PrintRuns, ALinePerRunThenMeanDeviationAndTheRunKept) {
  const std::vector<std::string> lines =
      printed_lines({run_of(5, 0.25, 1.0, 2.0), run_of(6, 0.125, 3.0, 4.0)}, true);
  const std::vector<std::string> expected = {
      "",
      "runs                           training rows         test rows",
      "                               RMSE       NRMSE      RMSE       NRMSE",
      "seed 5                         1          0.5        2          1",
      "seed 6                         3          1.5        4          2",
      "mean                           2          1          3          1.5",
      "standard deviation             1.414      0.7071     1.414      0.7071",
      "",
      "kept      seed 6: the lowest loss on the training rows, 0.125",
  };
  EXPECT_EQ(lines, expected);
}

TEST(PrintRuns, WithoutTestRowsOnlyTheTrainingColumns) {
  const std::vector<std::string> lines =
      printed_lines({run_of(1, 0.5, 1.0, NAN), run_of(2, 0.75, 2.0, NAN)}, false);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[1], "runs                           training rows");
  EXPECT_EQ(lines[3], "seed 1                         1          0.5");
  EXPECT_EQ(lines[8], "kept      seed 1: the lowest loss on the training rows, 0.5");
}

TEST(KeptRun, TheLowestValidationLossWhenThereIsOne) {
  std::vector<RunFigures> runs = {run_of(10, 1.0, 1.0, 1.0), run_of(11, 2.0, 1.0, 1.0),
                                  run_of(12, 3.0, 1.0, 1.0)};
  runs[0].validation_loss = 0.9;
  runs[1].validation_loss = 0.2;
  runs[2].validation_loss = 0.5;
  EXPECT_EQ(kept_run(runs), 1u);
}

}  // namespace
}  // namespace trainer
