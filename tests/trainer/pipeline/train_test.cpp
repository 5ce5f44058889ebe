// The train step: epochs that learn, the same run for the same seed, the epoch hook, and a
// learning rate too large caught.
#include <gtest/gtest.h>

#include <string>

#include "made_up_state.h"
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

const EpochHook kEveryEpoch = [](int, double) { return true; };

TEST(EpochsFor, TwoThousandToTrainNoneToEvaluateALoadedNetwork) {
  Options options;
  EXPECT_EQ(epochs_for(options), 2000);
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
  const RunResult result = train_run(state, 1, false, [&](int epoch, double loss) {
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

}  // namespace
}  // namespace trainer
