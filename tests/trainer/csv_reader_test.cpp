// Reading data files: header detection, cell forms, and where each fault is reported.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "trainer/csv_reader.h"
#include "trainer/input_error.h"

namespace trainer {
namespace {

// The message parse_csv raises for `text`, or that of its first cell that is not a number, or
// "" when every cell is one.
std::string error_of(const std::string& text) {
  try {
    const Table table = parse_csv(text, "data.csv");
    for (std::size_t r = 0; r < table.rows(); ++r) {
      for (std::size_t c = 0; c < table.columns(); ++c) table.number(r, c);
    }
  } catch (const InputError& error) {
    return error.what();
  }
  return "";
}

// Whether `message` starts with `where` and then, somewhere, says `what`.
::testing::AssertionResult reports(const std::string& message, const std::string& where,
                                   const std::string& what) {
  if (message.rfind(where, 0) == 0 && message.find(what) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "message '" << message << "' is not '" << where << "...' saying '" << what << "'";
}

TEST(CsvReader, FirstLineOfNamesIsAHeader) {
  const Table table = parse_csv("time, \"x, y\" ,\"say \"\"hi\"\"\"\n1,2,3\n4,5,6\n", "data.csv");
  EXPECT_TRUE(table.has_header);
  EXPECT_EQ(table.column_names, (std::vector<std::string>{"time", "x, y", "say \"hi\""}));
  EXPECT_EQ(table.rows(), 2u);
  EXPECT_EQ(table.cells, (std::vector<double>{1, 2, 3, 4, 5, 6}));
}

TEST(CsvReader, FirstLineOfNumbersIsData) {
  const Table table = parse_csv("1,2\n3,4\n", "data.csv");
  EXPECT_FALSE(table.has_header);
  EXPECT_EQ(table.column_names, (std::vector<std::string>{"column 1", "column 2"}));
  EXPECT_EQ(table.cells, (std::vector<double>{1, 2, 3, 4}));
}

TEST(CsvReader, ReadsEveryFormOfNumber) {
  const Table table =
      parse_csv("+1.5, 1e-3 ,\"-2\",1E2,  \" 0.25 \"\t,-0,1e-400,-7.\n", "data.csv");
  ASSERT_EQ(table.columns(), 8u);
  EXPECT_EQ(table.cells, (std::vector<double>{1.5, 0.001, -2, 100, 0.25, 0, 0, -7}));
  EXPECT_TRUE(std::signbit(table.cells[5]));
}

TEST(CsvReader, ByteOrderMarkCarriageReturnsAndBlankLinesAreNotData) {
  const Table table = parse_csv(
      "\xEF\xBB\xBF"
      "a,b\r\n\r\n  \t \r\n1,2\r\n\n3,4",
      "data.csv");
  EXPECT_EQ(table.column_names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(table.cells, (std::vector<double>{1, 2, 3, 4}));
}

TEST(CsvReader, EveryKindOfLineEndEndsALine) {
  // Lone carriage returns, with a line feed only at the end, or mixed with line feeds.
  EXPECT_EQ(parse_csv("a,b\r1,2\r3,4\n", "data.csv").cells, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(parse_csv("1,2\r3,4\n5,6\r\n", "data.csv").rows(), 3u);
  EXPECT_EQ(error_of("1,2\r\r\n3,x\n"), "data.csv, line 3, column 2: 'x' is not a number");
}

TEST(CsvReader, SpreadsheetLeftoversAreNotData) {
  // Rows of bare commas at the end, and a header cell left empty.
  const Table table = parse_csv("a,,c\n1,2,3\n,,\n , ,\n", "data.csv");
  EXPECT_EQ(table.column_names, (std::vector<std::string>{"a", "column 2", "c"}));
  EXPECT_EQ(table.cells, (std::vector<double>{1, 2, 3}));
}

TEST(CsvReader, OtherSeparatorsBringAHint) {
  EXPECT_TRUE(reports(error_of("a;b\n1;2\n"), "data.csv", "separated by commas"));
  EXPECT_TRUE(reports(error_of("a,b\n1\t2,3\n"), "data.csv, line 2", "separated by commas"));
  EXPECT_EQ(error_of("a,b\n1,x\n").find("separated"), std::string::npos);
}

TEST(CsvReader, LineNumbersCountTheBlankLines) {
  EXPECT_EQ(error_of("a,b\n\n1,2\n  \n3,abc\n"),
            "data.csv, line 5, column 2 (b): 'abc' is not a number");
  EXPECT_EQ(error_of("\xEF\xBB\xBF\r\n1,2\r\n\r\n3,x\r\n"),
            "data.csv, line 4, column 2: 'x' is not a number");
}

TEST(CsvReader, RefusesCellsThatAreNotFiniteNumbers) {
  EXPECT_TRUE(reports(error_of("1,2\n3,\n"), "data.csv, line 2, column 2", "empty"));
  EXPECT_TRUE(reports(error_of("1,2\n3,\"\"\n"), "data.csv, line 2, column 2", "empty"));
  EXPECT_TRUE(reports(error_of("1,2\nnan,1\n"), "data.csv, line 2, column 1", "'nan'"));
  EXPECT_TRUE(reports(error_of("1,2\n1,inf\n"), "data.csv, line 2, column 2", "'inf'"));
  EXPECT_TRUE(reports(error_of("1,2\n1,-Infinity\n"), "data.csv, line 2, column 2", "finite"));
  EXPECT_TRUE(reports(error_of("1,1e999\n"), "data.csv, line 1, column 2", "'1e999'"));
  EXPECT_TRUE(reports(error_of("1,2\n-1e999,2\n"), "data.csv, line 2, column 1", "range"));
  for (const char* cell :
       {"abc", "+-1", "++1", "+", "-", "0x10", "1 2", "5e", "1e5x", ".", "1..2"}) {
    const std::string text = std::string("1,2,3\n9,") + cell + "\n";
    const std::string message = error_of(text);
    EXPECT_NE(message.find("data.csv, line 2"), std::string::npos) << cell << ": " << message;
  }
}

TEST(CsvReader, OpenQuoteIsReportedOnItsLine) {
  EXPECT_TRUE(reports(error_of("1,2\n\n\"1,2\n3,4\n"), "data.csv, line 3", "quote"));
}

TEST(CsvReader, RaggedRowNamesItsLineAndTheFirstRowsLine) {
  const std::string message = error_of("\n\na,b\n1,2\n\n1,2,3\n");
  EXPECT_TRUE(reports(message, "data.csv, line 6", "3 columns"));
  EXPECT_NE(message.find("line 3 has 2"), std::string::npos) << message;
  EXPECT_TRUE(reports(error_of("1,2\n3\n"), "data.csv, line 2", "line 1 has 2"));
}

TEST(CsvReader, FirstLineMixingNamesAndNumbersIsData) {
  const Table table = parse_csv("time,1\n2,3\n", "data.csv");
  EXPECT_FALSE(table.has_header);
  EXPECT_EQ(table.rows(), 2u);
  EXPECT_EQ(error_of("time,1\n2,3\n"),
            "data.csv, line 1, column 1: 'time' is not a number (the first line is read as "
            "data: a header holds names only)");
  EXPECT_TRUE(reports(error_of("\xEF\xBB\xBF\n\nx,2.5\n"), "data.csv, line 3, column 1", "'x'"));
  // Numbers with an empty or infinite cell are a data row with a bad cell, not a header.
  EXPECT_TRUE(reports(error_of("1,,2\n"), "data.csv, line 1, column 2", "empty"));
  EXPECT_TRUE(reports(error_of("1,nan\n"), "data.csv, line 1, column 2", "finite"));
  EXPECT_TRUE(reports(error_of("nan,inf\n1,2\n"), "data.csv, line 1, column 1", "finite"));
}

TEST(CsvReader, KeepsTextCellsAndTellsNumericColumnsFromText) {
  const Table table =
      parse_csv("date,label,x\n2020-01-01, \"cat, big\" ,1.5\n2020-01-02,dog,oops\n2020-01-03,,2\n",
                "data.csv");
  ASSERT_EQ(table.rows(), 3u);
  EXPECT_EQ(table.lines, (std::vector<std::size_t>{2, 3, 4}));
  EXPECT_EQ(table.text(0, 1), "cat, big");
  EXPECT_EQ(table.text(2, 1), "");
  EXPECT_EQ(table.text(1, 2), "oops");
  EXPECT_EQ(table.text(2, 0), "2020-01-03");
  // A column holding a number is numeric, its other cells faults; one without any is text.
  EXPECT_FALSE(table.is_numeric_column(0));
  EXPECT_FALSE(table.is_numeric_column(1));
  EXPECT_TRUE(table.is_numeric_column(2));
  EXPECT_EQ(table.numbers_in_column[2], 2u);
  EXPECT_TRUE(table.is_number(0, 2));
  EXPECT_FALSE(table.is_number(1, 2));
  EXPECT_EQ(table.number(2, 2), 2.0);
  EXPECT_EQ(error_of("date,label,x\n2020-01-01,cat,1.5\n"),
            "data.csv, line 2, column 1 (date): '2020-01-01' is not a number");
  EXPECT_EQ(table.column_label(1), "column 2 (label)");
}

TEST(CsvReader, ColumnNamesInMessagesAreQuotedShortAndEscaped) {
  const Table table = parse_csv("\"a\tb" + std::string(100, 'n') + "\",y\nx,1\n", "data.csv");
  EXPECT_EQ(table.column_label(0), "column 1 (a\\tb" + std::string(37, 'n') + "...)");
}

TEST(CsvReader, TextWithoutDataRowsIsRefused) {
  for (const char* text : {"", "\n\n", " \r\n", "\xEF\xBB\xBF", "a,b\n", "a,b\n\n"}) {
    EXPECT_EQ(error_of(text), "data.csv has no rows of data") << text;
  }
}

TEST(CsvReader, ReadsFilesAndNamesTheOnesItCannot) {
  const std::string directory = ::testing::TempDir();
  const std::string path = directory + "/csv_reader_test.csv";
  std::ofstream(path, std::ios::binary) << "u,v\r\n0.5,-1\r\n";
  const Table table = read_csv(path);
  EXPECT_EQ(table.column_names, (std::vector<std::string>{"u", "v"}));
  EXPECT_EQ(table.cells, (std::vector<double>{0.5, -1}));
  std::remove(path.c_str());

  const std::string missing = directory + "/no-such-file.csv";
  for (const std::string& unreadable : {missing, directory}) {
    try {
      read_csv(unreadable);
      ADD_FAILURE() << unreadable << " was read";
    } catch (const InputError& error) {
      EXPECT_EQ(std::string(error.what()).rfind("cannot read " + unreadable + ": ", 0), 0u)
          << error.what();
    }
  }
}

}  // namespace
}  // namespace trainer
