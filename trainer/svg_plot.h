#ifndef OSCNET_TRAINER_SVG_PLOT_H
#define OSCNET_TRAINER_SVG_PLOT_H

#include <cstddef>
#include <string>
#include <vector>

namespace trainer {

/// What the picture shows: the loss per epoch, and predictions against the truth.
struct PlotData {
  std::string title;                  ///< kept short by the caller; target names are shortened here
  std::vector<double> training_loss;  ///< one per epoch
  std::vector<double> test_loss;      ///< one per epoch, or empty
  std::vector<double> validation_loss;  ///< one per epoch, or empty
  int best_epoch = 0;                   ///< from 1; 0: none marked
  std::string rows_label;               ///< which rows the predictions are for, e.g. "test rows"
  std::vector<std::string> target_names;
  std::vector<double> truth;            ///< rows x targets, row by row, in the data's units
  std::vector<double> predicted;        ///< the same shape
  std::vector<std::string> row_labels;  ///< one per row plotted, or empty for row numbers
  /// For a classification: the class names, and confusion[truth][predicted] row counts.
  std::vector<std::string> class_names;
  std::vector<std::vector<std::size_t>> confusion;
};

/// A self-contained SVG document: a panel with the loss curves (logarithmic when every loss
/// is positive) and one panel per target with truth and prediction along the rows.
std::string render_svg(const PlotData& data);

}  // namespace trainer

#endif
