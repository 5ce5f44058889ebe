#include "trainer/csv_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "trainer/input_error.h"
#include "trainer/text_files.h"
#include "trainer/trimmed.h"

namespace trainer {
namespace {

// Splits one line at commas outside double quotes; quotes are removed and "" inside them is a
// quote. Returns false for a quote left open.
bool split_cells(std::string_view line, std::vector<std::string>& cells) {
  cells.clear();
  std::string cell;
  bool quoted = false;
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
  }
  cells.emplace_back(trimmed(cell));
  return !quoted;
}

enum class CellKind { number, empty, not_finite, out_of_range, text };

CellKind read_number(std::string_view text, double& value) {
  if (text.empty()) return CellKind::empty;
  // from_chars takes no plus sign; a sign followed by another sign stays an error below.
  if (text.front() == '+' && text.size() > 1 && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return CellKind::text;
  if (error == std::errc::result_out_of_range) {
    // Below the smallest double rounds to zero, as any reader would; above the largest is
    // refused rather than read as infinity.
    value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(value) ? CellKind::number : CellKind::out_of_range;
  }
  if (error != std::errc()) return CellKind::text;
  return std::isfinite(value) ? CellKind::number : CellKind::not_finite;
}

std::string where(const std::string& name, std::size_t line) {
  return name + ", line " + std::to_string(line);
}

}  // namespace

Table parse_csv(const std::string& text, const std::string& name) {
  Table table;
  std::vector<std::string> cells;
  std::size_t first_line = 0;
  std::string_view rest = text;
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);  // a spreadsheet's UTF-8 mark

  for (std::size_t line_number = 1; !rest.empty(); ++line_number) {
    // A line ends at \n, \r\n or a lone \r (old Macintosh files), whichever comes.
    const auto end = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, end);
    std::size_t next = end == std::string_view::npos ? rest.size() : end + 1;
    if (end != std::string_view::npos && rest[end] == '\r' && next < rest.size() &&
        rest[next] == '\n') {
      ++next;
    }
    rest.remove_prefix(next);
    if (trimmed(line).empty()) continue;

    if (!split_cells(line, cells)) {
      throw InputError(where(name, line_number) + ": a quote is opened and not closed");
    }
    // Spreadsheets end some exports with rows of bare commas.
    if (std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); })) {
      continue;
    }
    if (first_line == 0) {
      first_line = line_number;
      std::size_t numbers = 0;
      std::size_t names = 0;
      double ignored = 0.0;
      for (const std::string& cell : cells) {
        const CellKind kind = read_number(cell, ignored);
        numbers += kind == CellKind::number ? 1 : 0;
        names += kind == CellKind::text ? 1 : 0;
      }
      // A header holds names; a first row of numbers that are not finite is data, refused
      // below for that.
      if (numbers == 0 && names > 0) {
        table.has_header = true;
        table.column_names = cells;
        for (std::size_t c = 0; c < cells.size(); ++c) {
          if (cells[c].empty()) table.column_names[c] = "column " + std::to_string(c + 1);
        }
        continue;
      }
      // A data row with an empty or infinite cell is reported below as such, not as a mix.
      if (names > 0) {
        throw InputError(where(name, line_number) +
                         ": mixes numbers and names; a header row holds only names and a data "
                         "row only numbers");
      }
      for (std::size_t c = 0; c < cells.size(); ++c) {
        table.column_names.push_back("column " + std::to_string(c + 1));
      }
    }
    if (cells.size() != table.columns()) {
      throw InputError(where(name, line_number) + ": " + std::to_string(cells.size()) +
                       (cells.size() == 1 ? " column" : " columns") + ", but line " +
                       std::to_string(first_line) + " has " + std::to_string(table.columns()));
    }
    for (std::size_t c = 0; c < cells.size(); ++c) {
      double value = 0.0;
      const std::string at = where(name, line_number) + ", column " + std::to_string(c + 1);
      switch (read_number(cells[c], value)) {
        case CellKind::number:
          table.cells.push_back(value);
          break;
        case CellKind::empty:
          throw InputError(at + ": the cell is empty");
        case CellKind::not_finite:
          throw InputError(at + ": '" + cells[c] + "' is not a finite number");
        case CellKind::out_of_range:
          throw InputError(at + ": '" + cells[c] + "' is beyond the range of doubles");
        case CellKind::text:
          throw InputError(at + ": '" + cells[c] + "' is not a number" +
                           (cells[c].find_first_of(";\t") != std::string::npos
                                ? " (cells are separated by commas)"
                                : ""));
      }
    }
  }
  if (table.cells.empty()) {
    const bool other_separator =
        table.columns() == 1 && table.column_names[0].find_first_of(";\t") != std::string::npos;
    throw InputError(name + " has no rows of numbers" +
                     (other_separator ? " (cells are separated by commas)" : ""));
  }
  return table;
}

Table read_csv(const std::string& path) {
  return parse_csv(read_text_file(path), path);
}

}  // namespace trainer
