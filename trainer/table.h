#ifndef OSCNET_TRAINER_TABLE_H
#define OSCNET_TRAINER_TABLE_H

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trainer {

/// A rectangular table of cells as a CSV file holds them: each cell's text, and its value when
/// it is a finite number. Columns of text (dates, labels) are kept; a cell that is not a number
/// is refused only where a number is needed (see number).
struct Table {
  std::string name;                       ///< the file, as messages name it
  std::vector<std::string> column_names;  ///< from the header row, or "column 1", ...
  bool has_header = false;
  std::vector<double> cells;       ///< row by row; NaN where the cell is not a finite number
  std::vector<std::size_t> lines;  ///< the line of the file each row comes from
  std::string texts;               ///< every cell's text, trimmed and unquoted, one after another
  std::vector<std::size_t> text_ends;          ///< where each cell's text ends in `texts`
  std::vector<std::size_t> numbers_in_column;  ///< how many of a column's cells are numbers

  std::size_t columns() const { return column_names.size(); }
  std::size_t rows() const { return lines.size(); }
  bool is_number(std::size_t row, std::size_t column) const {
    return !std::isnan(cells[row * columns() + column]);
  }
  /// A column holding at least one number is meant to hold numbers: its other cells are faults.
  /// A column without any (dates, names) is text.
  bool is_numeric_column(std::size_t column) const { return numbers_in_column[column] > 0; }
  std::string_view text(std::size_t row, std::size_t column) const;
  /// The cell's number; throws InputError naming the file, line and column, and saying what
  /// the cell holds instead, when it is not a finite number.
  double number(std::size_t row, std::size_t column) const;
  /// "column 2 (price)", or "column 2" without a header; the name quoted short and escaped.
  std::string column_label(std::size_t column) const;
};

}  // namespace trainer

#endif
