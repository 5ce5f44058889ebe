// The train step: epochs that learn, the same run for the same seed, the epoch hook, and a
// learning rate too large caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "made_up_state.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/train.h"
#include "trainer/pipeline/training_failed.h"

namespace trainer {
namespace {

RunState smooth_state(int epochs, double learning_rate = 0.05) {
  Options options;
  options.epochs = epochs;
  options.learning_rate = learning_rate;
  options.quiet = true;
  return made_up_state(smooth_data(40), options);
}

const EpochHook kEveryEpoch = [](int, double, double) { return true; };

TEST(EpochsFor, FourThousandToTrainNoneToEvaluateALoadedNetwork) {
  Options options;
  EXPECT_EQ(epochs_for(options), 4000);
  options.load_path = "w.json";
  EXPECT_EQ(epochs_for(options), 0);
  options.epochs = 7;
  EXPECT_EQ(epochs_for(options), 7);
}

TEST(TrainRun, TheLossFallsAndTheFiguresAreTheTrainedNetworks) {
  const RunState state = smooth_state(60);
  const RunResult result = train_run(state, 3, true, kEveryEpoch);
  ASSERT_EQ(result.training_loss.size(), 60u);
  ASSERT_EQ(result.test_loss.size(), 60u);
  EXPECT_LT(result.training_loss.back(), result.training_loss.front() / 4);
  EXPECT_LT(result.test_loss.back(), result.test_loss.front());
  EXPECT_EQ(result.figures.seed, 3u);
  EXPECT_LT(result.figures.training.nrmse, 0.5);
  // The figures' loss is the trained network's, below the last epoch's measured on the way.
  EXPECT_GT(result.figures.training_loss, 0.0);
  EXPECT_LT(result.figures.training_loss, result.training_loss.front());
}

TEST(TrainRun, TheSameSeedTheSameRunAnotherSeedAnother) {
  const RunState state = smooth_state(5);
  const RunResult a = train_run(state, 1, false, kEveryEpoch);
  const RunResult b = train_run(state, 1, false, kEveryEpoch);
  const RunResult c = train_run(state, 2, false, kEveryEpoch);
  EXPECT_EQ(a.params, b.params);
  EXPECT_EQ(a.training_loss, b.training_loss);
  EXPECT_NE(a.params, c.params);
  EXPECT_TRUE(a.test_loss.empty());
}

TEST(TrainRun, TheHookSeesEachEpochAndMayStopTheRun) {
  const RunState state = smooth_state(50);
  std::vector<int> seen;
  const RunResult result = train_run(state, 1, false, [&](int epoch, double loss, double) {
    EXPECT_GT(loss, 0.0);
    seen.push_back(epoch);
    return epoch < 3;
  });
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(result.training_loss.size(), 3u);
}

TEST(TrainRun, ALearningRateTooLargeIsCaughtWithAHint) {
  const RunState state = smooth_state(20, 1e6);
  try {
    train_run(state, 1, false, kEveryEpoch);
    FAIL() << "a learning rate of 1e6 trained";
  } catch (const TrainingFailed& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("training diverged: ", 0), 0u) << message;
    EXPECT_NE(message.find("try a smaller --lr"), std::string::npos) << message;
  }
}

TEST(TrainRuns, SeveralRunsOnThreadsGiveEachSeedsOwnRun) {
  RunState state = smooth_state(5);
  state.options.runs = 3;
  state.options.jobs = 2;
  const std::vector<RunResult> results = train_runs(state, false);
  ASSERT_EQ(results.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(results[i].figures.seed, state.seed(i));
    EXPECT_EQ(results[i].params, train_run(state, state.seed(i), false, kEveryEpoch).params);
  }
}

// Noisy targets on few rows: the network soon fits the noise, and the validation loss turns.
RunState overfitting_state(int epochs, int patience) {
  Options options;
  options.epochs = epochs;
  options.patience = patience;
  options.learning_rate = 0.05;
  options.validation_fraction = 0.5;
  options.layers = {{12, Activation::tanh}};
  Dataset data = smooth_data(30);
  std::mt19937 engine(5);
  std::normal_distribution<double> noise(0.0, 0.6);
  for (double& target : data.targets) target += noise(engine);
  return made_up_state(data, options);
}

TEST(TrainRun, KeepsTheWeightsOfTheEpochWithTheLowestValidationLoss) {
  const RunState state = overfitting_state(150, 0);
  const RunResult result = train_run(state, 1, false, kEveryEpoch);
  ASSERT_EQ(result.validation_loss.size(), 150u);
  const auto best = std::min_element(result.validation_loss.begin(), result.validation_loss.end());
  EXPECT_EQ(result.best_epoch, best - result.validation_loss.begin() + 1);
  EXPECT_LT(result.best_epoch, 150) << "no overfitting to stop";
  EXPECT_EQ(result.best_validation_loss, *best);
  EXPECT_EQ(result.figures.validation_loss, *best);
  // The weights kept give the best epoch's validation loss again (tanh units draw nothing).
  const Outcome outcome = evaluate(state, 1, result.params);
  EXPECT_DOUBLE_EQ(outcome.validation_loss, *best);
  EXPECT_EQ(outcome.held_out_rows, "validation");
}

TEST(TrainRun, StopsPatienceEpochsAfterTheBest) {
  const RunResult all = train_run(overfitting_state(150, 0), 1, false, kEveryEpoch);
  const RunResult stopped = train_run(overfitting_state(150, 5), 1, false, kEveryEpoch);
  ASSERT_LT(all.best_epoch + 5, 150);
  // The same epochs until then; the first best epoch followed by five worse ones ends it.
  ASSERT_EQ(stopped.training_loss.size(), static_cast<std::size_t>(stopped.best_epoch + 5));
  EXPECT_LE(stopped.best_epoch, all.best_epoch);
  for (std::size_t e = 0; e < stopped.validation_loss.size(); ++e) {
    EXPECT_EQ(stopped.validation_loss[e], all.validation_loss[e]);
  }
}

TEST(TrainRun, ALossGrownAMillionfoldIsCaughtBeforeItOverflows) {
  // Unscaled targets far from the inputs, and a rate that makes each step overshoot more, but
  // not so fast as to overflow within an epoch.
  Options options;
  options.epochs = 200;
  options.learning_rate = 0.025;
  options.shuffle = false;
  options.validation_fraction = 0.25;
  options.scaling = ScaleChoice::none;
  options.layers = {{2, Activation::none}};
  Dataset data = smooth_data(20);
  for (double& target : data.targets) target *= 30;
  const RunState state = made_up_state(data, options);
  try {
    train_run(state, 1, false, kEveryEpoch);
    FAIL() << "a learning rate of 0.025 trained";
  } catch (const TrainingFailed& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(" grew from "), std::string::npos) << message;
    EXPECT_NE(message.find("try a smaller --lr"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace trainer
