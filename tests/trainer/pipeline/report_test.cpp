// The report step: the header's lines, the kept run, and the baselines the network is measured
// against.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "made_up_state.h"
#include "trainer/pipeline/report.h"

namespace trainer {
namespace {

bool has_line(const std::string& text, const std::string& line) {
  return text.find(line + "\n") != std::string::npos;
}

TEST(PrintHeader, SaysWhatIsTrainedOnWhichRows) {
  Options options;
  options.epochs = 7;
  options.learning_rate = 0.01;
  options.shuffle = false;
  options.seed = 4;
  options.runs = 2;
  const RunState state = made_up_state(smooth_data(10), options);
  const std::string text = printed([&](std::FILE* out) { print_header(out, state); });
  EXPECT_TRUE(has_line(text, "data      made.csv (made up)")) << text;
  EXPECT_TRUE(has_line(text, "rows      8 for training, 2 for testing (the last ones, in order)"))
      << text;
  EXPECT_TRUE(has_line(text, "network   2 inputs -> 6 tanh -> 1 output (25 weights)")) << text;
  EXPECT_TRUE(has_line(text,
                       "training  gradient descent, learning rate 0.01, 7 epochs of 1 step per "
                       "row, in order, seeds 4 to 5"))
      << text;
  EXPECT_TRUE(has_line(text, "scaling   every column to [-1, 1] on the training rows")) << text;
}

TEST(PrintHeader, NoTestRowsNoTraining) {
  Options options;
  options.test_fraction = 0.0;
  const RunState state = made_up_state(smooth_data(10), options);
  const std::string text = printed([&](std::FILE* out) { print_header(out, state); });
  EXPECT_TRUE(has_line(text, "rows      10 for training, none held out for testing")) << text;
  EXPECT_TRUE(has_line(text, "training  none: the network is evaluated as it is, seed 1")) << text;
}

TEST(ReportRuns, KeepsTheLowestTrainingLossAndListsSeveralRuns) {
  const RunState state = made_up_state(smooth_data(10));
  std::vector<RunResult> results(3);
  for (std::size_t i = 0; i < 3; ++i) results[i].figures.seed = static_cast<std::uint32_t>(i + 1);
  results[0].figures.training_loss = 0.3;
  results[1].figures.training_loss = 0.1;
  results[2].figures.training_loss = 0.2;
  std::size_t kept = 9;
  const std::string text =
      printed([&](std::FILE* out) { kept = report_runs(out, state, results); });
  EXPECT_EQ(kept, 1u);
  EXPECT_NE(text.find("seed 3"), std::string::npos) << text;
  std::size_t single = 9;
  EXPECT_EQ(printed([&](std::FILE* out) { single = report_runs(out, state, {results[2]}); }), "");
  EXPECT_EQ(single, 0u);
}

// Training targets 1, 3, 5 and 7 (mean 4), test targets 2 and 10; the network predicts every
// row one too high.
Outcome hand_made_outcome() {
  Outcome outcome;
  outcome.training_truth = {1, 3, 5, 7};
  outcome.test_truth = {2, 10};
  outcome.training_predicted = {2, 4, 6, 8};
  outcome.test_predicted = {3, 11};
  return outcome;
}

TEST(ReportLines, TheNetworkThenTheTrainingMean) {
  const RunState state =
      made_up_state(made_up_data(1, 1, {0, 1, 2, 3, 4, 5}, {1, 3, 5, 7, 2, 10}), [] {
        Options options;
        options.test_fraction = 1.0 / 3;
        return options;
      }());
  const std::vector<ReportLine> lines = report_lines(state, hand_made_outcome());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "network");
  EXPECT_DOUBLE_EQ(lines[0].training.rmse, 1.0);
  EXPECT_DOUBLE_EQ(lines[0].test.rmse, 1.0);
  EXPECT_EQ(lines[1].name, "mean of the training targets");
  EXPECT_DOUBLE_EQ(lines[1].training.rmse, std::sqrt(5.0));  // errors 3, 1, 1, 3
  EXPECT_DOUBLE_EQ(lines[1].training.nrmse, 1.0);
  EXPECT_DOUBLE_EQ(lines[1].test.rmse, std::sqrt(20.0));  // errors 2 and 6
}

TEST(ReportLines, TheCurrentValueForASeries) {
  Options options;
  options.test_fraction = 1.0 / 3;
  Dataset data = made_up_data(2, 1, {9, 0, 9, 2, 9, 6, 9, 6, 9, 3, 9, 12}, {1, 3, 5, 7, 2, 10});
  data.current_values = {0, 2, 6, 6, 3, 12};
  const RunState state = made_up_state(data, options);
  const std::vector<ReportLine> lines = report_lines(state, hand_made_outcome());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].name, "next value = current value");
  EXPECT_DOUBLE_EQ(lines[2].training.rmse, 1.0);         // errors 1, 1, 1, 1
  EXPECT_DOUBLE_EQ(lines[2].test.rmse, std::sqrt(2.5));  // errors 1 and 2
}

TEST(ReportLines, ALinePerTargetUnderEachPredictor) {
  Options options;
  options.test_fraction = 0.5;
  const RunState state =
      made_up_state(made_up_data(1, 2, {0, 1, 2, 3}, {0, 10, 2, 30, 1, 20, 5, 5}), options);
  Outcome outcome;
  outcome.training_truth = {0, 10, 2, 30};
  outcome.test_truth = {1, 20, 5, 5};
  outcome.training_predicted = {0, 10, 2, 30};
  outcome.test_predicted = {1, 24, 5, 5};
  const std::vector<ReportLine> lines = report_lines(state, outcome);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1].name, "  y1");
  EXPECT_EQ(lines[2].name, "  y2");
  EXPECT_DOUBLE_EQ(lines[1].test.rmse, 0.0);
  EXPECT_DOUBLE_EQ(lines[2].test.rmse, std::sqrt(8.0));
  EXPECT_EQ(lines[3].name, "mean of the training targets");
  EXPECT_DOUBLE_EQ(lines[4].test.rmse, std::sqrt((0.0 + 16.0) / 2));   // y1's mean is 1
  EXPECT_DOUBLE_EQ(lines[5].test.rmse, std::sqrt((0.0 + 225.0) / 2));  // y2's mean is 20
}

// Two classes, one-hot: training rows no, no, yes, no; test rows yes, no. The network calls
// the second training row and the first test row wrong.
RunState two_class_state() {
  Options options;
  options.test_fraction = 1.0 / 3;
  Dataset data = made_up_data(1, 2, {0, 1, 2, 3, 4, 5}, {1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0});
  data.target_names = {"is no", "is yes"};
  data.class_names = {"no", "yes"};
  return made_up_state(data, options);
}

TEST(ReportOutcome, AClassificationShowsAccuracyAndTheConfusionMatrix) {
  const RunState state = two_class_state();
  Outcome outcome;
  outcome.training_truth = {1, 0, 1, 0, 0, 1, 1, 0};
  outcome.test_truth = {0, 1, 1, 0};
  outcome.training_predicted = {0.9, 0.1, 0.4, 0.6, 0.2, 0.7, 0.8, 0.3};
  outcome.test_predicted = {0.6, 0.5, 0.9, -0.1};
  const std::string text = printed([&](std::FILE* out) { report_outcome(out, state, outcome); });
  EXPECT_TRUE(has_line(text, "network                        0.7500 (3/4)          0.5000 (1/2)"))
      << text;
  EXPECT_TRUE(has_line(text, "majority class (no)            0.7500 (3/4)          0.5000 (1/2)"))
      << text;
  EXPECT_TRUE(has_line(text,
                       "The network does no better on the test rows than always predicting "
                       "'no'."))
      << text;
  EXPECT_TRUE(has_line(text, "      no  yes\nno     1    0\nyes    1    0")) << text;
  EXPECT_EQ(text.find("RMSE"), std::string::npos) << text;
}

TEST(PrintHeader, ValidationRowsARandomSplitAndWhenTrainingStops) {
  Options options;
  options.epochs = 50;
  options.learning_rate = 0.01;
  options.validation_fraction = 0.25;
  options.split = SplitChoice::random;
  options.seed = 9;
  options.patience = 7;
  options.scaling = ScaleChoice::standard;
  const RunState state = made_up_state(smooth_data(50), options);
  const std::string text = printed([&](std::FILE* out) { print_header(out, state); });
  EXPECT_TRUE(has_line(text,
                       "rows      30 for training, 10 for validation, 10 for testing (drawn at "
                       "random, --split random with seed 9)"))
      << text;
  EXPECT_NE(text.find("learning rate 0.01, up to 50 epochs of 1 step"), std::string::npos) << text;
  EXPECT_TRUE(has_line(text,
                       "stopping  after 7 epochs without a better validation loss; the best "
                       "epoch's weights are kept"))
      << text;
  EXPECT_TRUE(
      has_line(text, "scaling   every column to mean 0 and deviation 1 on the training rows"))
      << text;
}

TEST(ReportRuns, WhereTheRunStoppedAndWhichEpochItKept) {
  Options options;
  options.epochs = 40;
  const RunState state = made_up_state(smooth_data(10), options);
  RunResult run;
  run.training_loss.assign(25, 1.0);
  run.best_epoch = 20;
  run.best_validation_loss = 0.125;
  EXPECT_EQ(printed([&](std::FILE* out) { report_runs(out, state, {run}); }),
            "\nepochs    stopped after epoch 25 of 40; best validation loss 0.125 at epoch 20, "
            "whose weights are kept\n");
  run.training_loss.assign(40, 1.0);
  EXPECT_NE(printed([&](std::FILE* out) {
              report_runs(out, state, {run});
            }).find("epochs    all 40 run; best validation loss 0.125 at epoch 20"),
            std::string::npos);
  run.best_epoch = 0;  // no validation rows
  EXPECT_EQ(printed([&](std::FILE* out) { report_runs(out, state, {run}); }), "");
}

TEST(ReportOutcome, SaysPlainlyWhenTheNetworkIsNoBetterThanTheMean) {
  const RunState state = made_up_state(smooth_data(10));
  Outcome outcome = hand_made_outcome();
  const auto note = [&] {
    return printed([&](std::FILE* out) { report_outcome(out, state, outcome); })
        .find(
            "On the validation rows the network does no better than always predicting the "
            "mean");
  };
  outcome.held_out_rows = "validation";
  outcome.held_out_loss = 0.5;
  outcome.mean_held_out_loss = 0.4;
  EXPECT_NE(note(), std::string::npos);
  outcome.held_out_loss = 0.3;
  EXPECT_EQ(note(), std::string::npos);
}

}  // namespace
}  // namespace trainer
