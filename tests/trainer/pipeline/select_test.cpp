// The select step: which columns are inputs and targets, and which layers the network has.
#include <gtest/gtest.h>

#include "trainer/csv_reader.h"
#include "trainer/input_error.h"
#include "trainer/pipeline/select.h"

namespace trainer {
namespace {

LoadedData table_of(const std::string& text) {
  LoadedData loaded;
  loaded.name = "t.csv";
  loaded.table = parse_csv(text, "t.csv");
  return loaded;
}

Dataset select(const Options& options, LoadedData loaded) {
  RowSource source;
  return select_columns(options, std::move(loaded), source);
}

TEST(SelectColumns, TheLastTargetsColumnsAreTheTargets) {
  Options options;
  options.targets = 2;
  const Dataset data = select(options, table_of("a,b,c,d\n1,2,3,4\n5,6,7,8\n"));
  EXPECT_EQ(data.input_names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(data.target_names, (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(data.inputs, (std::vector<double>{1, 2, 5, 6}));
  EXPECT_EQ(data.targets, (std::vector<double>{3, 4, 7, 8}));
  EXPECT_EQ(data.rows, 2u);
  EXPECT_EQ(data.description, "t.csv (2 rows, 4 columns, with a header)");
  EXPECT_EQ(data.name, "t.csv");
}

TEST(SelectColumns, RefusesTargetsThatLeaveNoInput) {
  Options options;
  options.targets = 2;
  EXPECT_THROW(select(options, table_of("a,b\n1,2\n3,4\n")), InputError);
}

TEST(SelectColumns, TheOptionsNameTheColumnsAndTheTableIsKeptForOutput) {
  Options options;
  options.target_columns = {"y"};
  options.input_columns = {"a"};
  options.time_column = "day";
  options.output_path = "out.csv";
  RowSource source;
  const Dataset data =
      select_columns(options, table_of("day,a,b,y\nmon,1,2,3\ntue,4,5,6\n"), source);
  EXPECT_EQ(data.inputs, (std::vector<double>{1, 4}));
  EXPECT_EQ(data.row_labels, (std::vector<std::string>{"mon", "tue"}));
  EXPECT_EQ(source.columns, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(source.rows, (std::vector<std::size_t>{0, 1}));
  ASSERT_NE(source.table, nullptr);
  EXPECT_EQ(source.table->text(1, 0), "tue");
  // Without --output the table is not kept.
  options.output_path.clear();
  RowSource none;
  select_columns(options, table_of("day,a,b,y\nmon,1,2,3\n"), none);
  EXPECT_EQ(none.table, nullptr);
}

TEST(SelectColumns, RefusesOptionsThatContradictEachOther) {
  Options options;
  options.horizon = 3;
  EXPECT_THROW(select(options, table_of("a,b\n1,2\n")), InputError);
  options = {};
  options.targets = 2;
  options.target_columns = {"a"};
  EXPECT_THROW(select(options, table_of("a,b,c\n1,2,3\n")), InputError);
  // The built-in series has its own columns.
  options = {};
  options.lags = {1};
  EXPECT_THROW(select(options, LoadedData{}), InputError);
}

TEST(SelectColumns, TheBuiltInSeriesAsItIs) {
  LoadedData loaded;
  loaded.series.rows = 3;
  loaded.series.input_names = {"x"};
  loaded.series.target_names = {"y"};
  loaded.series.inputs = {1, 2, 3};
  loaded.series.targets = {2, 3, 4};
  loaded.series.current_values = {1, 2, 3};
  const Dataset data = select(Options{}, loaded);
  EXPECT_EQ(data.targets, loaded.series.targets);
  EXPECT_EQ(data.current_values, loaded.series.current_values);
}

Dataset data_of_widths(std::size_t in, std::size_t out) {
  Dataset data;
  data.input_names.assign(in, "x");
  data.target_names.assign(out, "y");
  return data;
}

TEST(SelectLayers, GivenOrDefault) {
  Options options;
  EXPECT_EQ(select_layers(options, data_of_widths(2, 1), {}), default_layers());
  options.layers = {{3, Activation::relu}};
  EXPECT_EQ(select_layers(options, data_of_widths(2, 1), {}), options.layers);
}

TEST(SelectLayers, TheLoadedNetworksWhenItFitsTheData) {
  Options options;
  options.load_path = "w.json";
  const WeightsFile loaded{2, 1, {{3, Activation::lee}}, {}, {}, {}, {}};
  EXPECT_EQ(select_layers(options, data_of_widths(2, 1), loaded), loaded.layers);
  options.layers = loaded.layers;
  EXPECT_EQ(select_layers(options, data_of_widths(2, 1), loaded), loaded.layers);

  options.layers = {{4, Activation::lee}};
  EXPECT_THROW(select_layers(options, data_of_widths(2, 1), loaded), InputError);
  options.layers.clear();
  EXPECT_THROW(select_layers(options, data_of_widths(3, 1), loaded), InputError);
  EXPECT_THROW(select_layers(options, data_of_widths(2, 2), loaded), InputError);
}

}  // namespace
}  // namespace trainer
