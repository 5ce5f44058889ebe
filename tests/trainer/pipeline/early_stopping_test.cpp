// Early stopping: the best epoch is the lowest validation loss, and patience counts from it.
#include <gtest/gtest.h>

#include "trainer/pipeline/early_stopping.h"

namespace trainer {
namespace {

TEST(EarlyStopping, TheBestEpochIsTheLowestLossTheFirstOfEquals) {
  EarlyStopping stopping(10);
  EXPECT_EQ(stopping.best_epoch(), 0);
  EXPECT_TRUE(stopping.improved(1, 5.0));
  EXPECT_TRUE(stopping.improved(2, 3.0));
  EXPECT_FALSE(stopping.improved(3, 4.0));
  EXPECT_FALSE(stopping.improved(4, 3.0));
  EXPECT_TRUE(stopping.improved(5, 2.5));
  EXPECT_FALSE(stopping.improved(6, 2.5));
  EXPECT_EQ(stopping.best_epoch(), 5);
  EXPECT_EQ(stopping.best_loss(), 2.5);
}

TEST(EarlyStopping, StopsAfterPatienceEpochsWithoutABetterLoss) {
  EarlyStopping stopping(3);
  stopping.improved(1, 1.0);
  stopping.improved(2, 2.0);
  EXPECT_FALSE(stopping.should_stop(2));
  stopping.improved(3, 2.0);
  EXPECT_FALSE(stopping.should_stop(3));
  stopping.improved(4, 1.5);
  EXPECT_TRUE(stopping.should_stop(4));
  // A better loss starts the count again.
  EarlyStopping again(3);
  again.improved(1, 1.0);
  again.improved(2, 2.0);
  again.improved(3, 0.5);
  again.improved(4, 0.6);
  EXPECT_FALSE(again.should_stop(4));
  again.improved(5, 0.6);
  again.improved(6, 0.6);
  EXPECT_TRUE(again.should_stop(6));
}

TEST(EarlyStopping, NoPatienceNeverStops) {
  EarlyStopping stopping(0);
  stopping.improved(1, 1.0);
  for (int epoch = 2; epoch < 1000; ++epoch) stopping.improved(epoch, 2.0);
  EXPECT_FALSE(stopping.should_stop(999));
  EXPECT_EQ(stopping.best_epoch(), 1);
}

}  // namespace
}  // namespace trainer
