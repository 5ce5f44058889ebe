#ifndef OSCNET_TRAINER_CSV_READER_H
#define OSCNET_TRAINER_CSV_READER_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "trainer/input_limits.h"
#include "trainer/table.h"
#include "trainer/work_counter.h"

namespace trainer {

/// Reads comma-separated cells: numbers, and text such as dates and labels, which Table::number
/// refuses where a number is needed. The first line is a header when none of its cells is a
/// number and some hold text. Cells may be quoted and padded with spaces; blank lines are
/// skipped. Throws InputError naming the file and line for a file that cannot be read, a row
/// whose column count differs from the first row's, and a file without data rows; and, before
/// the memory for them is taken, for a file, a line or a cell beyond `limits`. Messages quote
/// at most the start of a bad cell (see excerpt). The file is read in pieces, so that memory
/// holds the cells (their text and numbers) and one line; "-" is standard input.
Table read_csv(const std::string& path, const InputLimits& limits = {});

/// The same, from text already in memory; `name` stands for the file in messages. The file
/// size limit does not apply. `counter`, if given, counts the bytes looked at.
Table parse_csv(std::string_view text, const std::string& name, const InputLimits& limits = {},
                WorkCounter* counter = nullptr);

}  // namespace trainer

#endif
