#include "trainer/table.h"

#include "trainer/cell_number.h"
#include "trainer/excerpt.h"
#include "trainer/input_error.h"

namespace trainer {

std::string_view Table::text(std::size_t row, std::size_t column) const {
  const std::size_t index = row * columns() + column;
  const std::size_t start = index == 0 ? 0 : text_ends[index - 1];
  return std::string_view(texts).substr(start, text_ends[index] - start);
}

std::string Table::column_label(std::size_t column) const {
  const std::string number = "column " + std::to_string(column + 1);
  return has_header ? number + " (" + excerpt(column_names[column]) + ")" : number;
}

double Table::number(std::size_t row, std::size_t column) const {
  const double value = cells[row * columns() + column];
  if (!std::isnan(value)) return value;
  const std::string at =
      name + ", line " + std::to_string(lines[row]) + ", " + column_label(column);
  const std::string_view cell = text(row, column);
  if (cell.empty()) throw InputError(at + ": the cell is empty");
  const std::string quoted = "'" + excerpt(cell) + "'";
  double ignored = 0.0;
  switch (read_number(cell, ignored)) {
    case CellKind::not_finite:
      throw InputError(at + ": " + quoted + " is not a finite number");
    case CellKind::out_of_range:
      throw InputError(at + ": " + quoted + " is beyond the range of doubles");
    default:
      break;
  }
  std::string hint;
  if (cell.find_first_of(";\t") != std::string_view::npos) {
    hint = " (cells are separated by commas)";
  } else if (!has_header && row == 0) {
    hint = " (the first line is read as data: a header holds names only)";
  }
  throw InputError(at + ": " + quoted + " is not a number" + hint);
}

}  // namespace trainer
