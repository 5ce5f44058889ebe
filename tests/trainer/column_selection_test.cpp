// Choosing a table's columns: by name or number, skipping text, lagged rows and classes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trainer/column_selection.h"
#include "trainer/csv_reader.h"
#include "trainer/input_error.h"
#include "trainer/mackey_glass.h"

namespace trainer {
namespace {

using Names = std::vector<std::string>;
using Values = std::vector<double>;

const char* const kWeather =
    "date,temp,rain,wind,sky\n"
    "2024-01-01,1,10,5,sun\n"
    "2024-01-02,2,20,6,rain\n"
    "2024-01-03,3,30,7,sun\n"
    "2024-01-04,4,40,8,fog\n"
    "2024-01-05,5,50,9,sun\n";

Selection select(const std::string& text, const ColumnRequest& request) {
  return select_from_table(parse_csv(text, "data.csv"), request);
}

// The message select_from_table raises, or "" when it selects.
std::string error_of(const std::string& text, const ColumnRequest& request) {
  try {
    select(text, request);
  } catch (const InputError& error) {
    return error.what();
  }
  return "";
}

TEST(ColumnSelection, WithoutNamesTheLastColumnIsTheTargetAndTextIsSkipped) {
  ColumnRequest request;
  request.target_count = 1;
  const Selection selection = select("date,a,b,y\n2024-01-01,1,2,3\n2024-01-02,4,5,6\n", request);
  const Dataset& data = selection.data;
  EXPECT_EQ(data.input_names, (Names{"a", "b"}));
  EXPECT_EQ(data.target_names, (Names{"y"}));
  EXPECT_EQ(data.rows, 2u);
  EXPECT_EQ(data.inputs, (Values{1, 2, 4, 5}));
  EXPECT_EQ(data.targets, (Values{3, 6}));
  EXPECT_EQ(selection.skipped, (Names{"date"}));
  EXPECT_EQ(data.description, "data.csv (2 rows, 4 columns, with a header; skipped: date)");
  EXPECT_FALSE(data.time_ordered);
  EXPECT_TRUE(data.current_values.empty());
}

TEST(ColumnSelection, ColumnsByNameOrNumberAndAnExactNameWinsOverANumber) {
  ColumnRequest request;
  request.targets = {"rain"};
  request.inputs = {"4", "temp"};
  const Selection selection = select(kWeather, request);
  EXPECT_EQ(selection.data.input_names, (Names{"wind", "temp"}));
  EXPECT_EQ(selection.data.inputs[0], 5.0);
  EXPECT_EQ(selection.skipped, (Names{"date", "sky"}));
  EXPECT_EQ(selection.given_columns, (std::vector<std::size_t>{3, 1}));

  // A header cell that is a number makes its line data, so a header name is never a number;
  // without a header the columns are named "column 1", ... as well as numbered.
  request.targets = {"column 3"};
  request.inputs = {"1"};
  const Selection unnamed = select("7,8,9\n", request);
  EXPECT_EQ(unnamed.data.target_names, (Names{"column 3"}));
  EXPECT_EQ(unnamed.data.inputs, (Values{7}));
  request.inputs = {};
  request.targets = {"1"};
  EXPECT_EQ(select("7,8,9\n", request).data.targets, (Values{7}));
}

TEST(ColumnSelection, UnknownAndDoublyUsedColumnsAreRefusedListingTheColumns) {
  ColumnRequest request;
  request.targets = {"snow"};
  EXPECT_EQ(error_of(kWeather, request),
            "--target: data.csv has no column 'snow'; its columns are date, temp, rain, wind, "
            "sky");
  request.targets = {"9"};
  EXPECT_NE(error_of(kWeather, request).find("has no column '9'"), std::string::npos);
  request.targets = {"temp"};
  request.inputs = {"rain", "temp"};
  EXPECT_EQ(error_of(kWeather, request), "--inputs: column 2 (temp) is already a target");
  request.inputs = {"date"};
  request.time = "date";
  EXPECT_EQ(error_of(kWeather, request), "--inputs: column 1 (date) is already the --time column");
  // Many long names: the list is cut.
  std::string header;
  std::string row;
  for (int c = 0; c < 30; ++c) {
    header += (c ? "," : "") + std::string(60, 'a' + static_cast<char>(c % 26));
    row += c ? ",1" : "1";
  }
  request = {};
  request.targets = {"nothing"};
  const std::string message = error_of(header + "\n" + row + "\n", request);
  EXPECT_NE(message.find("and 22 more"), std::string::npos) << message;
  EXPECT_LT(message.size(), 400u) << message;
}

TEST(ColumnSelection, TextWhereANumberIsNeededNamesFileLineAndColumn) {
  ColumnRequest request;
  request.inputs = {"sky"};
  request.targets = {"temp"};
  EXPECT_EQ(error_of(kWeather, request), "data.csv, line 2, column 5 (sky): 'sun' is not a number");
  // A numeric column with one bad cell.
  request = {};
  EXPECT_EQ(error_of("a,y\n1,2\nn/a,3\n", request),
            "data.csv, line 3, column 1 (a): 'n/a' is not a number");
  // An unused one is no fault.
  request.inputs = {"y"};
  request.targets = {"y"};
  EXPECT_NE(error_of("a,y\n1,2\nn/a,3\n", request).find("already"), std::string::npos);
}

TEST(ColumnSelection, TooManyTargetsLeaveNoInput) {
  ColumnRequest request;
  request.target_count = 2;
  EXPECT_NE(error_of("1,2\n3,4\n", request).find("--targets must be below"), std::string::npos);
  request.target_count = 1;
  EXPECT_NE(error_of("name,y\nx,1\n", request).find("no numeric column left for the inputs"),
            std::string::npos);
}

TEST(ColumnSelection, TheTimeColumnLabelsRowsAndIsNoInput) {
  ColumnRequest request;
  request.time = "date";
  request.targets = {"wind"};
  const Selection selection = select(kWeather, request);
  EXPECT_EQ(selection.data.input_names, (Names{"temp", "rain"}));
  EXPECT_EQ(selection.data.row_labels[4], "2024-01-05");
  EXPECT_EQ(selection.given_columns, (std::vector<std::size_t>{0, 1, 2}));
}

TEST(ColumnSelection, LagsMakeRowsOfPastValuesAndTheTargetAhead) {
  ColumnRequest request;
  request.targets = {"temp"};
  request.inputs = {"rain"};
  request.lags = {2, 0};
  request.horizon = 1;
  request.time = "date";
  const Selection selection = select(kWeather, request);
  const Dataset& data = selection.data;
  EXPECT_EQ(data.input_names, (Names{"temp(t-2)", "temp(t)", "rain(t-2)", "rain(t)"}));
  EXPECT_EQ(data.target_names, (Names{"temp(t+1)"}));
  // t = 2 and 3: t - 2 and t + 1 exist.
  EXPECT_EQ(data.rows, 2u);
  EXPECT_EQ(data.inputs, (Values{1, 3, 10, 30, 2, 4, 20, 40}));
  EXPECT_EQ(data.targets, (Values{4, 5}));
  EXPECT_EQ(data.current_values, (Values{3, 4}));
  EXPECT_EQ(data.row_labels, (Names{"2024-01-04", "2024-01-05"}));
  EXPECT_TRUE(data.time_ordered);
  // Other numeric columns are no inputs with lags.
  EXPECT_EQ(selection.skipped, (Names{"wind", "sky"}));
  EXPECT_EQ(selection.source_rows, (std::vector<std::size_t>{2, 3}));

  // The current value is the naive forecast even when lag 0 is not an input.
  request.lags = {1};
  request.inputs = {};
  request.horizon = 2;
  const Dataset ahead = select(kWeather, request).data;
  EXPECT_EQ(ahead.inputs, (Values{1, 2}));
  EXPECT_EQ(ahead.targets, (Values{4, 5}));
  EXPECT_EQ(ahead.current_values, (Values{2, 3}));
}

TEST(ColumnSelection, LaggedRowsToPredictRunToTheEnd) {
  ColumnRequest request;
  request.targets = {"temp"};
  request.lags = {1, 0};
  request.horizon = 3;
  request.predicting = true;
  const Selection selection = select(kWeather, request);
  EXPECT_EQ(selection.data.rows, 4u);
  EXPECT_TRUE(selection.data.targets.empty());
  EXPECT_EQ(selection.source_rows.back(), 4u);
}

TEST(ColumnSelection, LagsNeedRowsAndDistinctValues) {
  ColumnRequest request;
  request.lags = {3, 0};
  request.horizon = 2;
  EXPECT_EQ(error_of("x\n1\n2\n3\n4\n5\n", request),
            "data.csv has 5 rows; lags up to 3 and a horizon of 2 need at least 6");
  request.lags = {6, 6};
  EXPECT_EQ(error_of("x\n1\n2\n", request), "--lags: 6 appears twice");
}

TEST(ColumnSelection, LagsOfTheBuiltInSeriesGiveTheBuiltInRows) {
  // x(100) .. x(1123): t = 118 .. 1117 have x(t - 18) and x(t + 6).
  const std::vector<double> x = mackey_glass_series(1123);
  std::string text = "x\n";
  for (std::size_t t = 100; t < x.size(); ++t) {
    char number[40];
    std::snprintf(number, sizeof number, "%.17g\n", x[t]);
    text += number;
  }
  ColumnRequest request;
  request.lags = {18, 12, 6, 0};
  request.horizon = 6;
  const Dataset lagged = select(text, request).data;
  const Dataset built_in = mackey_glass_dataset();
  EXPECT_EQ(lagged.input_names, built_in.input_names);
  EXPECT_EQ(lagged.target_names, built_in.target_names);
  EXPECT_EQ(lagged.rows, built_in.rows);
  EXPECT_EQ(lagged.inputs, built_in.inputs);
  EXPECT_EQ(lagged.targets, built_in.targets);
  EXPECT_EQ(lagged.current_values, built_in.current_values);
}

TEST(ColumnSelection, ClassesOfTextAreOrderedByTextAndOneHot) {
  ColumnRequest request;
  request.classify = "sky";
  request.time = "date";
  const Selection selection = select(kWeather, request);
  const Dataset& data = selection.data;
  EXPECT_EQ(data.class_names, (Names{"fog", "rain", "sun"}));
  EXPECT_EQ(data.target_names, data.class_names);
  EXPECT_EQ(data.input_names, (Names{"temp", "rain", "wind"}));
  EXPECT_EQ(data.targets, (Values{0, 0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1}));
}

TEST(ColumnSelection, ClassesOfNumbersAreOrderedNumerically) {
  ColumnRequest request;
  request.classify = "k";
  const Dataset data = select("x,k\n1,10\n2,9\n3,10.0\n4,-1\n", request).data;
  EXPECT_EQ(data.class_names, (Names{"-1", "9", "10"}));
  EXPECT_EQ(data.targets, (Values{0, 0, 1, 0, 1, 0, 0, 0, 1, 1, 0, 0}));
  // Named by number, the column keeps its name for the predictions file.
  request.classify = "2";
  EXPECT_EQ(select("x,k\n1,10\n2,9\n", request).label_name, "k");
  EXPECT_EQ(error_of("x,k\n1,10\n2,ten\n", request),
            "data.csv, line 3, column 2 (k): 'ten' is not a number");
}

TEST(ColumnSelection, ClassificationsAreRefusedWhereTheyCannotBe) {
  ColumnRequest request;
  request.classify = "k";
  EXPECT_EQ(error_of("x,k\n1,a\n2,a\n", request),
            "--classify: data.csv, column 2 (k) holds the single class 'a'; a classification "
            "needs two or more");
  EXPECT_EQ(error_of("x,k\n1,a\n2,\n", request),
            "data.csv, line 3, column 2 (k): the label is empty");
  std::string many = "x,k\n";
  for (int r = 0; r < 300; ++r) many += "1,label " + std::to_string(r) + "\n";
  EXPECT_NE(error_of(many, request).find("more than 256 distinct labels"), std::string::npos);
  request.targets = {"x"};
  EXPECT_NE(error_of("x,k\n1,a\n", request).find("without --target"), std::string::npos);
  request.targets = {};
  request.lags = {1};
  EXPECT_NE(error_of("x,k\n1,a\n", request).find("does not go with --lags"), std::string::npos);
}

TEST(ColumnSelection, RowsToPredictNeedNoTargetsOrLabels) {
  ColumnRequest request;
  request.classify = "sky";
  request.predicting = true;
  request.inputs = {"temp", "wind"};
  request.inputs_recorded_in = "w.json";
  const Dataset data = select("temp,wind\n1,2\n3,4\n", request).data;
  EXPECT_EQ(data.inputs, (Values{1, 2, 3, 4}));
  EXPECT_TRUE(data.targets.empty());
  // Recorded names are never numbers.
  request.inputs = {"temp", "2"};
  EXPECT_EQ(error_of("temp,wind\n1,2\n", request),
            "data.csv has no column '2', an input of the network in w.json; its columns are "
            "temp, wind");
}

}  // namespace
}  // namespace trainer
