#include "trainer/classification_figures.h"

#include <limits>

namespace trainer {

std::vector<std::size_t> classes_of(const std::vector<double>& outputs, std::size_t classes) {
  std::vector<std::size_t> chosen;
  if (classes == 0) return chosen;
  chosen.reserve(outputs.size() / classes);
  for (std::size_t first = 0; first + classes <= outputs.size(); first += classes) {
    std::size_t best = 0;
    double largest = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < classes; ++k) {
      // Strictly larger: a tie keeps the first, and not-a-number never wins.
      if (outputs[first + k] > largest) {
        largest = outputs[first + k];
        best = k;
      }
    }
    chosen.push_back(best);
  }
  return chosen;
}

double Accuracy::share() const {
  return rows == 0 ? std::numeric_limits<double>::quiet_NaN()
                   : static_cast<double>(correct) / static_cast<double>(rows);
}

Accuracy accuracy_of(const std::vector<std::size_t>& predicted,
                     const std::vector<std::size_t>& truth) {
  Accuracy result;
  result.rows = truth.size();
  for (std::size_t r = 0; r < truth.size() && r < predicted.size(); ++r) {
    if (predicted[r] == truth[r]) ++result.correct;
  }
  return result;
}

std::size_t majority_class(const std::vector<std::size_t>& truth, std::size_t classes) {
  std::vector<std::size_t> counts(classes, 0);
  for (const std::size_t c : truth) {
    if (c < classes) ++counts[c];
  }
  std::size_t best = 0;
  for (std::size_t k = 1; k < classes; ++k) {
    if (counts[k] > counts[best]) best = k;
  }
  return best;
}

ConfusionMatrix confusion_matrix(const std::vector<std::size_t>& truth,
                                 const std::vector<std::size_t>& predicted, std::size_t classes) {
  ConfusionMatrix matrix(classes, std::vector<std::size_t>(classes, 0));
  for (std::size_t r = 0; r < truth.size() && r < predicted.size(); ++r) {
    if (truth[r] < classes && predicted[r] < classes) ++matrix[truth[r]][predicted[r]];
  }
  return matrix;
}

ClassificationFigures classification_figures(std::size_t classes,
                                             const std::vector<double>& training_outputs,
                                             const std::vector<double>& training_truth,
                                             const std::vector<double>& test_outputs,
                                             const std::vector<double>& test_truth) {
  const std::vector<std::size_t> training = classes_of(training_truth, classes);
  const std::vector<std::size_t> test = classes_of(test_truth, classes);
  const std::vector<std::size_t> training_predicted = classes_of(training_outputs, classes);
  const std::vector<std::size_t> test_predicted = classes_of(test_outputs, classes);
  ClassificationFigures figures;
  figures.network_training = accuracy_of(training_predicted, training);
  figures.network_test = accuracy_of(test_predicted, test);
  figures.majority = majority_class(training, classes);
  figures.majority_training =
      accuracy_of(std::vector<std::size_t>(training.size(), figures.majority), training);
  figures.majority_test =
      accuracy_of(std::vector<std::size_t>(test.size(), figures.majority), test);
  if (classes <= kMostClassesInMatrix) {
    figures.confusion = test.empty() ? confusion_matrix(training, training_predicted, classes)
                                     : confusion_matrix(test, test_predicted, classes);
  }
  return figures;
}

}  // namespace trainer
