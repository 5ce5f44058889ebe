// The CSV reader on any bytes: it refuses with a short, printable message naming the file, or it
// gives a rectangular table of finite numbers that, written out again, reads back the same.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

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
      text += (c > 0 ? ", " : "") + std::string(number);
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
  for (const double cell : table.cells) CHECK(std::isfinite(cell), text);
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
