#ifndef OSCNET_TRAINER_CSV_READER_H
#define OSCNET_TRAINER_CSV_READER_H

#include <cstddef>
#include <string>
#include <vector>

namespace trainer {

/// A rectangular table of numbers with a name per column.
struct Table {
  std::vector<std::string> column_names;  ///< from the header row, or "column 1", ...
  bool has_header = false;
  std::vector<double> cells;  ///< row by row
  std::size_t columns() const { return column_names.size(); }
  std::size_t rows() const { return columns() == 0 ? 0 : cells.size() / columns(); }
};

/// Reads comma-separated numbers. The first line is a header when none of its cells is a
/// number. Cells may be quoted and padded with spaces; blank lines are skipped. Throws
/// InputError naming the file and line for a file that cannot be read, a first line mixing
/// names and numbers, a cell that is empty or not a finite number, a row whose column count
/// differs from the first row's, and a file without data rows.
Table read_csv(const std::string& path);

/// The same, from text already in memory; `name` stands for the file in messages.
Table parse_csv(const std::string& text, const std::string& name);

}  // namespace trainer

#endif
