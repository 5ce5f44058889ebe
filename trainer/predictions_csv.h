#ifndef OSCNET_TRAINER_PREDICTIONS_CSV_H
#define OSCNET_TRAINER_PREDICTIONS_CSV_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace trainer {

/// What a predictions file holds, row by row: the columns given (as their text), then the true
/// targets when known, then the network's outputs.
struct PredictionsTable {
  std::vector<std::string> given_names;
  /// The text of given column `column` in row `row`.
  std::function<std::string(std::size_t row, std::size_t column)> given_cell;
  std::vector<std::string> target_names;  ///< one per output
  std::size_t rows = 0;
  std::vector<double> predicted;  ///< rows x outputs, in the data's units
  std::vector<double> truth;      ///< rows x outputs, or empty when the targets are unknown
  /// Not empty for a classification: the outputs are one per class, and the file holds the
  /// class of the largest output, in one column named `label_name`.
  std::vector<std::string> class_names;
  std::string label_name;
};

/// The file's text: a header and a line per row, cells quoted where they must be (a comma, a
/// quote, spaces at either end), numbers in the shortest form that reads back exactly. True
/// values come in columns named "NAME (true)" before the outputs. Throws InputError naming the
/// row for an output that is not a finite number.
std::string predictions_csv(const PredictionsTable& table);

/// The class of the largest of `width` outputs (the first, among equals).
std::size_t predicted_class(const double* outputs, std::size_t width);

/// `text` as one CSV cell.
std::string csv_cell(const std::string& text);

}  // namespace trainer

#endif
