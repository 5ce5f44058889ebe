// The predictions file: the columns given, the true values when known, the outputs last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trainer/csv_reader.h"
#include "trainer/input_error.h"
#include "trainer/predictions_csv.h"

namespace trainer {
namespace {

PredictionsTable two_rows() {
  PredictionsTable table;
  table.given_names = {"date", "x, y"};
  table.given_cell = [](std::size_t row, std::size_t column) {
    const char* cells[2][2] = {{"2024-01-01", "say \"hi\""}, {" padded ", "0.50"}};
    return std::string(cells[row][column]);
  };
  table.target_names = {"y"};
  table.rows = 2;
  table.predicted = {0.1, -2.0};
  return table;
}

TEST(PredictionsCsv, GivenColumnsAsWrittenThenTheOutputs) {
  EXPECT_EQ(predictions_csv(two_rows()),
            "date,\"x, y\",y\n"
            "2024-01-01,\"say \"\"hi\"\"\",0.1\n"
            "\" padded \",0.50,-2.0\n");
  // It reads back as the cells it was given.
  const Table read = parse_csv(predictions_csv(two_rows()), "out.csv");
  EXPECT_EQ(read.column_names, (std::vector<std::string>{"date", "x, y", "y"}));
  EXPECT_EQ(read.text(1, 0), "padded");  // the reader trims cells
  EXPECT_EQ(read.text(0, 1), "say \"hi\"");
  EXPECT_EQ(read.number(1, 2), -2.0);
}

TEST(PredictionsCsv, TrueValuesComeBeforeTheOutputs) {
  PredictionsTable table = two_rows();
  table.target_names = {"a", "b"};
  table.predicted = {1, 2, 3, 4};
  table.truth = {5, 6, 7, 8.25};
  EXPECT_EQ(predictions_csv(table),
            "date,\"x, y\",a (true),b (true),a,b\n"
            "2024-01-01,\"say \"\"hi\"\"\",5.0,6.0,1.0,2.0\n"
            "\" padded \",0.50,7.0,8.25,3.0,4.0\n");
}

TEST(PredictionsCsv, AClassificationWritesTheLabelOfTheLargestOutput) {
  PredictionsTable table = two_rows();
  table.given_names = {};
  table.target_names = {"cat", "dog", "eel"};
  table.class_names = table.target_names;
  table.label_name = "animal";
  table.predicted = {0.1, 0.7, 0.2, 0.5, 0.5, -1};
  EXPECT_EQ(predictions_csv(table), "animal\ndog\ncat\n");
  table.truth = {0, 0, 1, 0, 1, 0};
  EXPECT_EQ(predictions_csv(table), "animal (true),animal\neel,dog\ndog,cat\n");
}

TEST(PredictionsCsv, AnOutputThatIsNoNumberIsRefused) {
  PredictionsTable table = two_rows();
  table.predicted = {0.1, 1e308 * 10};
  EXPECT_THROW(predictions_csv(table), InputError);
}

}  // namespace
}  // namespace trainer
