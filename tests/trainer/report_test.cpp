// The classification table as a user reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trainer/report.h"

namespace trainer {
namespace {

std::vector<std::string> printed(const ClassificationFigures& figures,
                                 const std::vector<std::string>& names, bool has_test_rows) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  print_classification_report(file, figures, names, has_test_rows);
  std::rewind(file);
  std::vector<std::string> lines(1);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(c);
    }
  }
  std::fclose(file);
  lines.pop_back();
  return lines;
}

ClassificationFigures three_classes() {
  ClassificationFigures figures;
  figures.network_training = {90, 100};
  figures.network_test = {23, 25};
  figures.majority = 1;
  figures.majority_training = {40, 100};
  figures.majority_test = {9, 25};
  figures.confusion = {{7, 1, 0}, {0, 9, 0}, {1, 0, 1234}};
  return figures;
}

TEST(ClassificationReport, AccuracyOfTheNetworkAndTheMajorityClassThenTheMatrix) {
  const std::vector<std::string> lines =
      printed(three_classes(), {"setosa", "a class name far too long to show", "virginica"}, true);
  const std::vector<std::string> expected = {
      "",
      "                               training rows         test rows",
      "                               accuracy              accuracy",
      "network                        0.9000 (90/100)       0.9200 (23/25)",
      "majority class (a class na...) 0.4000 (40/100)       0.3600 (9/25)",
      "",
      "Confusion matrix of the test rows: a row per true class, a column per",
      "predicted class",
      "                    setosa  a class n...     virginica",
      "setosa                   7             1             0",
      "a class n...             0             9             0",
      "virginica                1             0          1234",
  };
  EXPECT_EQ(lines, expected);
}

TEST(ClassificationReport, SaysSoWhenTheNetworkIsNoBetterThanTheMajorityClass) {
  ClassificationFigures figures = three_classes();
  figures.network_test = figures.majority_test;
  const std::vector<std::string> lines = printed(figures, {"a", "b", "c"}, true);
  ASSERT_GT(lines.size(), 6u);
  EXPECT_EQ(lines[6], "The network does no better on the test rows than always predicting 'b'.");
  EXPECT_EQ(lines[8], "Confusion matrix of the test rows: a row per true class, a column per");
}

TEST(ClassificationReport, WithoutTestRowsOnlyTheTrainingRows) {
  ClassificationFigures figures = three_classes();
  figures.confusion.clear();
  const std::vector<std::string> lines = printed(figures, {"a", "b", "c"}, false);
  const std::vector<std::string> expected = {
      "",
      "                               training rows",
      "                               accuracy",
      "network                        0.9000 (90/100)",
      "majority class (b)             0.4000 (40/100)",
      "",
      "No confusion matrix: 3 classes are more than 20 to show.",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace trainer
