// Input files within bounds: regular files only, never waiting on a pipe, refused beyond their
// size, line and cell limits with a message that names the file and the limit and quotes
// little of what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "trainer/csv_reader.h"
#include "trainer/excerpt.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"
#include "trainer/json.h"
#include "trainer/text_files.h"
#include "trainer/weights_file.h"

namespace trainer {
namespace {

std::string temporary_path(const std::string& name) {
  return ::testing::TempDir() + "/input_files_test_" + std::to_string(::getpid()) + "_" + name;
}

std::string write_file(const std::string& name, const std::string& text) {
  const std::string path = temporary_path(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// The message `read` throws as InputError, or "" if it throws none.
template <typename Read>
std::string refusal(Read read) {
  try {
    read();
  } catch (const InputError& error) {
    return error.what();
  }
  return "";
}

TEST(Excerpt, QuotesTheStartWithControlBytesEscaped) {
  EXPECT_EQ(excerpt("1.5"), "1.5");
  EXPECT_EQ(excerpt(std::string("a\0b\x1b[2J\t\\", 9)), "a\\0b\\x1b[2J\\t\\\\");
  EXPECT_EQ(excerpt(std::string(100, '9')), std::string(40, '9') + "...");
  EXPECT_EQ(excerpt("\x7f"), "\\x7f");
  // A character of several bytes is quoted whole or not at all.
  const std::string euros = std::string(39, 'x') + "\xE2\x82\xAC\xE2\x82\xAC";
  EXPECT_EQ(excerpt(euros), std::string(39, 'x') + "...");
  EXPECT_EQ(excerpt(std::string(37, 'x') + "\xE2\x82\xAC" + "yy"),
            std::string(37, 'x') + "\xE2\x82\xAC" + "...");
}

TEST(Sizes, ReadWithTheirSuffixesAndShownInTheirUnits) {
  EXPECT_EQ(parse_size("--max-file-size", "1000"), 1000u);
  EXPECT_EQ(parse_size("--max-file-size", "64K"), 65536u);
  EXPECT_EQ(parse_size("--max-file-size", "3m"), 3u * 1024 * 1024);
  EXPECT_EQ(parse_size("--max-file-size", "2G"), 2ull << 30);
  for (const char* bad : {"", "0", "K", "-1", "1.5G", "12X", "1GG", "2000000000G", " 1"}) {
    EXPECT_NE(refusal([&] { parse_size("--max-file-size", bad); }).find("--max-file-size"),
              std::string::npos)
        << bad;
  }
  EXPECT_EQ(size_text(1u << 30), "1 GiB");
  EXPECT_EQ(size_text(256u << 20), "256 MiB");
  EXPECT_EQ(size_text(65536), "64 KiB");
  EXPECT_EQ(size_text(1000), "1000 bytes");
  EXPECT_EQ(size_text(1), "1 byte");
}

TEST(InputFiles, APipeWithoutAWriterIsRefusedAtOnce) {
  const std::string path = temporary_path("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const std::string message = refusal([&] { read_csv(path); });
  ::unlink(path.c_str());
  EXPECT_EQ(message, "cannot read " + path + ": it is a pipe, not a regular file");
}

TEST(InputFiles, DevicesAndDirectoriesAreRefused) {
  EXPECT_EQ(refusal([] { read_csv("/dev/zero"); }),
            "cannot read /dev/zero: it is a character device, not a regular file");
  EXPECT_EQ(refusal([] { read_weights_file("/dev/zero"); }),
            "cannot read /dev/zero: it is a character device, not a regular file");
  const std::string directory = ::testing::TempDir();
  EXPECT_EQ(refusal([&] { read_weights_file(directory); }),
            "cannot read " + directory + ": it is a directory");
}

TEST(InputFiles, AFileBeyondItsSizeLimitIsRefusedAndOneAtItIsRead) {
  const std::string path = write_file("sized.csv", "x,y\n1,2\n3,4\n");  // 12 bytes
  InputLimits limits;
  limits.max_file_size = 12;
  EXPECT_EQ(read_csv(path, limits).rows(), 2u);
  limits.max_file_size = 11;
  EXPECT_EQ(refusal([&] { read_csv(path, limits); }),
            path + " is larger than the limit of 11 bytes; --max-file-size raises it");
  EXPECT_EQ(refusal([&] { read_weights_file(path, 11); }),
            path + " is larger than the limit of 11 bytes; --max-file-size raises it");
  ::unlink(path.c_str());
}

TEST(InputFiles, LinesEndAnywhereAcrossTheReadersPieces) {
  // \r\n astride each place the file may be cut into pieces, and a lone \r.
  std::string text = "a,b\r\n";
  std::size_t rows = 0;
  while (text.size() < 300000) {
    text += std::to_string(rows) + ",1";
    text += rows % 3 == 2 ? "\r" : "\r\n";
    ++rows;
  }
  for (const std::size_t shift : {0, 1, 2}) {
    const std::string shifted = std::string(shift, ' ') + text;
    const std::string path = write_file("pieces.csv", shifted);
    const Table table = read_csv(path);
    ::unlink(path.c_str());
    ASSERT_EQ(table.rows(), rows);
    EXPECT_EQ(table.cells[2 * (rows - 1)], static_cast<double>(rows - 1));
    EXPECT_EQ(parse_csv(shifted, "data.csv").cells, table.cells);
  }
}

TEST(CsvLimits, ALongLineIsRefusedNamingItsLineAndTheLimit) {
  InputLimits limits;
  limits.max_line_length = 16;
  EXPECT_EQ(parse_csv("x,y\n1234567,1234567\n", "data.csv", limits).rows(), 1u);  // 15 bytes
  EXPECT_EQ(refusal([&] { parse_csv("x,y\n\n12345678,12345678\n", "data.csv", limits); }),
            "data.csv, line 3: longer than the limit of 16 bytes for a line; "
            "--max-line-length raises it");
  // Without an end of line too.
  EXPECT_NE(refusal([&] { parse_csv("x,y\n" + std::string(17, '1'), "data.csv", limits); }), "");
}

TEST(CsvLimits, ALongCellIsRefusedWithAShortQuote) {
  const std::string cell = std::string("\0\x1b", 2) + std::string(70000, '5');
  EXPECT_EQ(refusal([&] { parse_csv("x,y\n1," + cell + "\n", "data.csv"); }),
            "data.csv, line 2, column 2: a cell longer than the limit of 64 KiB: '\\0\\x1b" +
                std::string(38, '5') + "...'");
  // Quoted cells too, and a header's names.
  EXPECT_NE(refusal([&] {
              parse_csv("\"" + std::string(70000, 'n') + "\"\n1\n", "data.csv");
            }).find("line 1, column 1: a cell longer than the limit of 64 KiB"),
            std::string::npos);
}

TEST(CsvLimits, BadCellsAreQuotedShortAndEscaped) {
  const std::string message = refusal([] {
    parse_csv("x,y\n1," + std::string("12\0", 3) + std::string(1000, 'z') + "\n", "data.csv")
        .number(0, 1);
  });
  EXPECT_EQ(message, "data.csv, line 2, column 2 (y): '12\\0" + std::string(37, 'z') +
                         "...' is not a number");
}

TEST(WeightsLimits, UnknownAndRepeatedKeysAreQuotedShort) {
  const std::string valid =
      "{\"format\": \"oscnet-weights\", \"version\": 1, \"inputs\": 1, \"outputs\": 1, "
      "\"layers\": [{\"units\": 1, \"activation\": \"tanh\"}], \"params\": [0, 0, 0, 0], ";
  // The key holds a line feed, escaped in the JSON text.
  const std::string message = refusal(
      [&] { parse_weights(valid + "\"k\\n" + std::string(5000, 'k') + "\": 1}", "model.json"); });
  EXPECT_NE(message.find("unknown key \"k\\n" + std::string(38, 'k') + "...\""), std::string::npos)
      << message;
  EXPECT_LT(message.size(), 200u);
  try {
    parse_json("{\"" + std::string(5000, 'd') + "\": 1, \"" + std::string(5000, 'd') + "\": 2}");
    ADD_FAILURE();
  } catch (const JsonError& error) {
    EXPECT_LT(std::string(error.what()).size(), 200u) << error.what();
  }
}

}  // namespace
}  // namespace trainer
