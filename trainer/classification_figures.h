#ifndef OSCNET_TRAINER_CLASSIFICATION_FIGURES_H
#define OSCNET_TRAINER_CLASSIFICATION_FIGURES_H

#include <cstddef>
#include <vector>

namespace trainer {

/// More classes than this make a confusion matrix no one reads, and one of classes x classes
/// cells could outgrow the data; it is left out then.
constexpr std::size_t kMostClassesInMatrix = 20;

/// Per row of `outputs` (rows x `classes`, row by row), the class of the largest output; the
/// first of equal ones. A not-a-number output is never the largest. Also reads one-hot truth.
std::vector<std::size_t> classes_of(const std::vector<double>& outputs, std::size_t classes);

/// How many of the rows have their class predicted.
struct Accuracy {
  std::size_t correct = 0;
  std::size_t rows = 0;
  /// Not-a-number without rows.
  double share() const;
};

Accuracy accuracy_of(const std::vector<std::size_t>& predicted,
                     const std::vector<std::size_t>& truth);

/// The class most rows have, the first of equally frequent ones; 0 without rows.
std::size_t majority_class(const std::vector<std::size_t>& truth, std::size_t classes);

/// matrix[true class][predicted class]: how many rows.
using ConfusionMatrix = std::vector<std::vector<std::size_t>>;

ConfusionMatrix confusion_matrix(const std::vector<std::size_t>& truth,
                                 const std::vector<std::size_t>& predicted, std::size_t classes);

/// What a classification's report shows: the network against always predicting the class most
/// training rows have, and where the network's predictions of the test rows go.
struct ClassificationFigures {
  Accuracy network_training;
  Accuracy network_test;
  std::size_t majority = 0;  ///< the training rows' most frequent class
  Accuracy majority_training;
  Accuracy majority_test;
  /// Of the test rows, or of the training rows when none are held out; empty for more than
  /// kMostClassesInMatrix classes.
  ConfusionMatrix confusion;
};

/// The figures from outputs and one-hot truth, each rows x `classes`, row by row.
ClassificationFigures classification_figures(std::size_t classes,
                                             const std::vector<double>& training_outputs,
                                             const std::vector<double>& training_truth,
                                             const std::vector<double>& test_outputs,
                                             const std::vector<double>& test_truth);

}  // namespace trainer

#endif
