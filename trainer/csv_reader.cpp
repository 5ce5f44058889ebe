#include "trainer/csv_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "trainer/cell_number.h"
#include "trainer/excerpt.h"
#include "trainer/input_error.h"
#include "trainer/text_files.h"
#include "trainer/trimmed.h"

namespace trainer {
namespace {

enum class SplitResult { done, open_quote, long_cell };

// Splits one line at commas outside double quotes; quotes are removed and "" inside them is a
// quote. A cell growing past `max_cell` stops the split, with the cell as far as it got last
// in `cells`.
SplitResult split_cells(std::string_view line, std::size_t max_cell,
                        std::vector<std::string>& cells, WorkCounter* counter) {
  cells.clear();
  std::string cell;
  bool quoted = false;
  count_work(counter, line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        cell += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        cell += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"' && trimmed(cell).empty()) {
      cell.clear();
      quoted = true;
    } else if (c == ',') {
      cells.emplace_back(trimmed(cell));
      cell.clear();
    } else {
      cell += c;
    }
    if (cell.size() > max_cell) {
      cells.push_back(std::move(cell));
      return SplitResult::long_cell;
    }
  }
  cells.emplace_back(trimmed(cell));
  return quoted ? SplitResult::open_quote : SplitResult::done;
}

std::string where(const std::string& name, std::size_t line) {
  return name + ", line " + std::to_string(line);
}

// Builds the table from text given in pieces of any size: a line ends at \n, \r\n or a lone
// \r (old Macintosh files), whichever comes, even when a piece ends between \r and \n.
class CsvParser {
 public:
  CsvParser(std::string name, const InputLimits& limits, WorkCounter* counter)
      : limits_(limits), counter_(counter) {
    table_.name = std::move(name);
  }

  void feed(std::string_view piece) {
    while (!piece.empty()) {
      if (after_carriage_return_ && piece.front() == '\n') {
        count_work(counter_);
        piece.remove_prefix(1);
      }
      after_carriage_return_ = false;
      const auto end = piece.find_first_of("\r\n");
      const std::string_view part = piece.substr(0, end);
      count_work(counter_, part.size());
      if (part.size() > limits_.max_line_length - line_.size()) {
        throw InputError(where(table_.name, line_number_) + ": longer than the limit of " +
                         size_text(limits_.max_line_length) + " for a line; " +
                         kMaxLineLengthOption + " raises it");
      }
      line_.append(part);
      if (end == std::string_view::npos) return;
      after_carriage_return_ = piece[end] == '\r';
      piece.remove_prefix(end + 1);
      end_line();
    }
  }

  Table finish() {
    if (!line_.empty()) end_line();
    if (table_.rows() == 0) {
      const bool other_separator =
          table_.columns() == 1 && table_.column_names[0].find_first_of(";\t") != std::string::npos;
      throw InputError(table_.name + " has no rows of data" +
                       (other_separator ? " (cells are separated by commas)" : ""));
    }
    return std::move(table_);
  }

 private:
  void end_line() {
    std::string_view line = line_;
    // A spreadsheet's UTF-8 mark.
    if (line_number_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    add_line(line);
    line_.clear();
    ++line_number_;
  }

  void add_line(std::string_view line) {
    if (trimmed(line).empty()) return;
    switch (split_cells(line, limits_.max_cell_length, cells_, counter_)) {
      case SplitResult::done:
        break;
      case SplitResult::open_quote:
        throw InputError(where(table_.name, line_number_) + ": a quote is opened and not closed");
      case SplitResult::long_cell:
        throw InputError(where(table_.name, line_number_) + ", column " +
                         std::to_string(cells_.size()) + ": a cell longer than the limit of " +
                         size_text(limits_.max_cell_length) + ": '" + excerpt(cells_.back()) + "'");
    }
    // Spreadsheets end some exports with rows of bare commas.
    if (std::all_of(cells_.begin(), cells_.end(), [](const std::string& c) { return c.empty(); })) {
      return;
    }
    if (first_line_ == 0 && !read_first_line()) return;
    if (cells_.size() != table_.columns()) {
      throw InputError(where(table_.name, line_number_) + ": " + std::to_string(cells_.size()) +
                       (cells_.size() == 1 ? " column" : " columns") + ", but line " +
                       std::to_string(first_line_) + " has " + std::to_string(table_.columns()));
    }
    table_.lines.push_back(line_number_);
    for (std::size_t c = 0; c < cells_.size(); ++c) {
      double value = 0.0;
      const bool number = read_number(cells_[c], value, counter_) == CellKind::number;
      table_.cells.push_back(number ? value : std::numeric_limits<double>::quiet_NaN());
      table_.numbers_in_column[c] += number ? 1 : 0;
      table_.texts += cells_[c];
      table_.text_ends.push_back(table_.texts.size());
    }
  }

  // Takes the first line with cells: a header, whose names are kept (false), or the first row
  // of data, left to be read as any other (true).
  bool read_first_line() {
    table_.numbers_in_column.assign(cells_.size(), 0);
    first_line_ = line_number_;
    std::size_t numbers = 0;
    std::size_t names = 0;
    double ignored = 0.0;
    for (const std::string& cell : cells_) {
      const CellKind kind = read_number(cell, ignored, counter_);
      numbers += kind == CellKind::number ? 1 : 0;
      names += kind == CellKind::text ? 1 : 0;
    }
    // A header holds names only; a first row of numbers that are not finite is data.
    if (numbers == 0 && names > 0) {
      table_.has_header = true;
      table_.column_names = cells_;
      for (std::size_t c = 0; c < cells_.size(); ++c) {
        if (cells_[c].empty()) table_.column_names[c] = "column " + std::to_string(c + 1);
      }
      return false;
    }
    for (std::size_t c = 0; c < cells_.size(); ++c) {
      table_.column_names.push_back("column " + std::to_string(c + 1));
    }
    return true;
  }

  InputLimits limits_;
  WorkCounter* counter_;
  Table table_;
  std::string line_;  // the line read so far
  bool after_carriage_return_ = false;
  std::size_t line_number_ = 1;
  std::size_t first_line_ = 0;  // of the header or the first row, once read
  std::vector<std::string> cells_;
};

}  // namespace

Table parse_csv(std::string_view text, const std::string& name, const InputLimits& limits,
                WorkCounter* counter) {
  CsvParser parser(name, limits, counter);
  parser.feed(text);
  return parser.finish();
}

Table read_csv(const std::string& path, const InputLimits& limits) {
  const InputSource source{limits.max_file_size, true, kMaxFileSizeOption};
  CsvParser parser(input_name(path, source), limits, nullptr);
  read_input(path, source, [&](std::string_view piece) { parser.feed(piece); });
  return parser.finish();
}

}  // namespace trainer
