// Accuracy, the majority class and the confusion matrix, counted by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "trainer/classification_figures.h"

namespace trainer {
namespace {

TEST(ClassificationFigures, TheLargestOutputIsTheClassAndTiesGoToTheFirst) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> outputs = {
      0.1, 0.7, 0.2,   // 1
      0.5, 0.5, 0.5,   // a tie: 0
      -3,  -2,  -2,    // a tie after a smaller one: 1
      nan, -1,  4,     // not-a-number is never the largest: 2
      0.2, 0.9, 0.95,  // 2
  };
  EXPECT_EQ(classes_of(outputs, 3), (std::vector<std::size_t>{1, 0, 1, 2, 2}));
  EXPECT_TRUE(classes_of(outputs, 0).empty());
}

TEST(ClassificationFigures, OneHotTruthReadsAsItsClass) {
  EXPECT_EQ(classes_of({0, 0, 1, 1, 0, 0, 0, 1, 0}, 3), (std::vector<std::size_t>{2, 0, 1}));
}

TEST(ClassificationFigures, AccuracyCountsTheRowsPredictedRight) {
  const Accuracy figures = accuracy_of({0, 1, 2, 2, 1}, {0, 1, 1, 2, 0});
  EXPECT_EQ(figures.correct, 3u);
  EXPECT_EQ(figures.rows, 5u);
  EXPECT_DOUBLE_EQ(figures.share(), 0.6);
  EXPECT_TRUE(std::isnan(accuracy_of({}, {}).share()));
}

TEST(ClassificationFigures, TheMajorityClassIsTheMostFrequentAndTheFirstOfEqualOnes) {
  EXPECT_EQ(majority_class({2, 1, 2, 0, 2, 1}, 3), 2u);
  EXPECT_EQ(majority_class({2, 1, 1, 2}, 3), 1u);
  EXPECT_EQ(majority_class({}, 4), 0u);
}

TEST(ClassificationFigures, TheConfusionMatrixHasTrueClassesInRowsAndPredictedInColumns) {
  const ConfusionMatrix matrix = confusion_matrix({0, 0, 1, 2, 2, 2}, {0, 1, 1, 0, 2, 2}, 3);
  const ConfusionMatrix expected = {{1, 1, 0}, {0, 1, 0}, {1, 0, 2}};
  EXPECT_EQ(matrix, expected);
}

TEST(ClassificationFigures, TheMajorityClassComesFromTheTrainingRowsAlone) {
  // Training: classes 1, 1, 0 (majority 1), predicted 1, 0, 0. Test: classes 0, 0, 1,
  // predicted 0, 1, 1.
  const std::vector<double> training_truth = {0, 1, 0, 1, 1, 0};
  const std::vector<double> training_outputs = {0.2, 0.8, 0.6, 0.4, 0.9, 0.1};
  const std::vector<double> test_truth = {1, 0, 1, 0, 0, 1};
  const std::vector<double> test_outputs = {0.7, 0.3, 0.4, 0.6, 0.1, 0.5};
  const ClassificationFigures figures =
      classification_figures(2, training_outputs, training_truth, test_outputs, test_truth);
  EXPECT_EQ(figures.majority, 1u);
  EXPECT_EQ(figures.network_training.correct, 2u);
  EXPECT_EQ(figures.network_test.correct, 2u);
  EXPECT_EQ(figures.majority_training.correct, 2u);
  EXPECT_EQ(figures.majority_test.correct, 1u);
  EXPECT_EQ(figures.majority_test.rows, 3u);
  const ConfusionMatrix test_matrix = {{1, 1}, {0, 1}};
  EXPECT_EQ(figures.confusion, test_matrix);

  // Without test rows the matrix is the training rows'.
  const ClassificationFigures training_only =
      classification_figures(2, training_outputs, training_truth, {}, {});
  const ConfusionMatrix training_matrix = {{1, 0}, {1, 1}};
  EXPECT_EQ(training_only.confusion, training_matrix);
  EXPECT_TRUE(std::isnan(training_only.network_test.share()));
}

TEST(ClassificationFigures, TooManyClassesLeaveTheMatrixOut) {
  const std::size_t classes = kMostClassesInMatrix + 1;
  std::vector<double> one_hot(classes * classes, 0.0);
  for (std::size_t k = 0; k < classes; ++k) one_hot[k * classes + k] = 1.0;
  const ClassificationFigures figures =
      classification_figures(classes, one_hot, one_hot, one_hot, one_hot);
  EXPECT_TRUE(figures.confusion.empty());
  EXPECT_EQ(figures.network_test.correct, classes);
}

}  // namespace
}  // namespace trainer
