// The select step: which columns are inputs and targets, and which layers the network has.
#include <gtest/gtest.h>

#include "trainer/input_error.h"
#include "trainer/pipeline/select.h"

namespace trainer {
namespace {

LoadedData table_of(std::vector<double> cells, std::vector<std::string> names) {
  LoadedData loaded;
  loaded.name = "t.csv";
  loaded.description = "t.csv (2 rows)";
  loaded.table = Table{std::move(names), true, std::move(cells)};
  return loaded;
}

TEST(SelectColumns, TheLastTargetsColumnsAreTheTargets) {
  Options options;
  options.targets = 2;
  const Dataset data =
      select_columns(options, table_of({1, 2, 3, 4, 5, 6, 7, 8}, {"a", "b", "c", "d"}));
  EXPECT_EQ(data.input_names, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(data.target_names, (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(data.inputs, (std::vector<double>{1, 2, 5, 6}));
  EXPECT_EQ(data.targets, (std::vector<double>{3, 4, 7, 8}));
  EXPECT_EQ(data.rows, 2u);
  EXPECT_EQ(data.description, "t.csv (2 rows)");
}

TEST(SelectColumns, RefusesTargetsThatLeaveNoInput) {
  Options options;
  options.targets = 2;
  EXPECT_THROW(select_columns(options, table_of({1, 2, 3, 4}, {"a", "b"})), InputError);
}

TEST(SelectColumns, TheBuiltInSeriesAsItIs) {
  LoadedData loaded;
  loaded.series.rows = 3;
  loaded.series.input_names = {"x"};
  loaded.series.target_names = {"y"};
  loaded.series.inputs = {1, 2, 3};
  loaded.series.targets = {2, 3, 4};
  loaded.series.current_value_input = 0;
  const Dataset data = select_columns(Options{}, loaded);
  EXPECT_EQ(data.targets, loaded.series.targets);
  EXPECT_EQ(data.current_value_input, 0u);
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
  const WeightsFile loaded{2, 1, {{3, Activation::lee}}, {}};
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
