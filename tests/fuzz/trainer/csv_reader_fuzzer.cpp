// The CSV reader on any bytes: it refuses with a short, printable message naming the file, or it
// gives a rectangular table of cells, each a finite number or text, that, written out again,
// reads back the same; and every cell that is no number is refused with such a message where a
// number is needed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fuzz/trainer/reader_checks.h"
#include "trainer/csv_reader.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"

namespace {

const std::string kName = "data.csv";

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// The table as CSV: every name quoted, every number with enough digits to read back exactly.
// A blank first line keeps a name that starts like a byte-order mark from being taken for one.
std::string written(const trainer::Table& table) {
  std::string text = "\n";
  if (table.has_header) {
    for (std::size_t c = 0; c < table.columns(); ++c) {
      text += (c > 0 ? "," : "") + quoted(table.column_names[c]);
    }
    text += "\r\n";
  }
  for (std::size_t r = 0; r < table.rows(); ++r) {
    for (std::size_t c = 0; c < table.columns(); ++c) {
      char number[40];
      std::snprintf(number, sizeof number, "%.17g", table.cells[r * table.columns() + c]);
      text += (c > 0 ? ", " : "") +
              (table.is_number(r, c) ? std::string(number) : quoted(std::string(table.text(r, c))));
    }
    text += "\n";
  }
  return text;
}

void check_table(const trainer::Table& table, const std::string& text) {
  CHECK(table.columns() > 0, text);
  CHECK(table.rows() > 0, text);
  CHECK(table.cells.size() == table.rows() * table.columns(), text);
  // Every data row takes a line of its own, a cell at least one byte of it.
  CHECK(table.cells.size() <= text.size(), text);
  CHECK(table.text_ends.size() == table.cells.size(), text);
  CHECK(table.texts.size() <= text.size(), text);
  CHECK(table.name == kName, table.name);
  std::size_t last_line = 0;
  for (std::size_t r = 0; r < table.rows(); ++r) {
    CHECK(table.lines[r] > last_line, text);
    last_line = table.lines[r];
  }
  std::vector<std::size_t> numbers(table.columns(), 0);
  for (std::size_t i = 0; i < table.cells.size(); ++i) {
    const double cell = table.cells[i];
    CHECK(std::isfinite(cell) || std::isnan(cell), text);
    const std::size_t r = i / table.columns();
    const std::size_t c = i % table.columns();
    if (!std::isnan(cell)) {
      ++numbers[c];
      CHECK(fuzz_trainer::same_bits(table.number(r, c), cell), text);
      continue;
    }
    try {
      table.number(r, c);
      fuzz_trainer::violated(__FILE__, __LINE__, "a cell that is no number is refused", text);
    } catch (const trainer::InputError& error) {
      fuzz_trainer::check_message(error.what(), kName);
      const std::string at =
          kName + ", line " + std::to_string(table.lines[r]) + ", column " + std::to_string(c + 1);
      CHECK(std::string(error.what()).rfind(at, 0) == 0, error.what());
    }
  }
  CHECK(numbers == table.numbers_in_column, text);
  for (std::size_t c = 0; c < table.columns(); ++c) {
    const std::string& name = table.column_names[c];
    CHECK(!name.empty(), text);
    if (!table.has_header) CHECK(name == "column " + std::to_string(c + 1), name);
  }
}

// Small enough that the fuzzer's inputs reach them.
trainer::InputLimits small_limits() {
  trainer::InputLimits limits;
  limits.max_line_length = 256;
  limits.max_cell_length = 48;
  return limits;
}

bool same_tables(const trainer::Table& a, const trainer::Table& b) {
  if (a.has_header != b.has_header || a.column_names != b.column_names ||
      a.cells.size() != b.cells.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.cells.size(); ++i) {
    if (!fuzz_trainer::same_bits(a.cells[i], b.cells[i])) return false;
    const std::size_t r = i / a.columns();
    const std::size_t c = i % a.columns();
    // Numbers are written in a form of their own; text as it was.
    if (!a.is_number(r, c) && a.text(r, c) != b.text(r, c)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Limits only refuse: under small ones a file reads as it does under the defaults, or not at
  // all, and what the defaults refuse stays refused.
  bool small_refused = false;
  trainer::Table small;
  try {
    small = trainer::parse_csv(text, kName, small_limits());
  } catch (const trainer::InputError& error) {
    fuzz_trainer::check_message(error.what(), kName);
    small_refused = true;
  }
  trainer::Table table;
  try {
    table = trainer::parse_csv(text, kName);
  } catch (const trainer::InputError& error) {
    fuzz_trainer::check_message(error.what(), kName);
    CHECK(small_refused, text);
    return 0;
  }
  check_table(table, text);
  if (!small_refused) CHECK(same_tables(small, table), text);

  const std::string again_text = written(table);
  trainer::Table again;
  try {
    again = trainer::parse_csv(again_text, kName);
  } catch (const trainer::InputError& error) {
    fuzz_trainer::violated(__FILE__, __LINE__, "a table it gave, written out, reads back",
                           std::string(error.what()) + " on " + again_text);
  }
  CHECK(same_tables(again, table), again_text);
  return 0;
}
