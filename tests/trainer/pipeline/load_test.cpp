// The load step: the built-in series without --data, a file's table and its description, and
// the weights file of --load.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "trainer/input_error.h"
#include "trainer/pipeline/load.h"

namespace trainer {
namespace {

std::string write_temporary(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(LoadData, WithoutDataTheBuiltInSeries) {
  const LoadedData loaded = load_data(Options{});
  EXPECT_FALSE(loaded.table.has_value());
  EXPECT_EQ(loaded.series.rows, 1000u);
  EXPECT_EQ(loaded.series.input_width(), 4u);
  EXPECT_EQ(loaded.description, loaded.series.description);
}

TEST(LoadData, TargetsApplyToFilesAlone) {
  Options options;
  options.targets = 2;
  EXPECT_THROW(load_data(options), InputError);
}

TEST(LoadData, AFilesTableDescribedByItsNameAndSize) {
  Options options;
  options.data_path = write_temporary("load_test.csv", "a,b,c\n1,2,3\n4,5,6\n");
  const LoadedData loaded = load_data(options);
  std::remove(options.data_path.c_str());
  ASSERT_TRUE(loaded.table.has_value());
  EXPECT_EQ(loaded.table->cells, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(loaded.name, "load_test.csv");
  EXPECT_EQ(loaded.description, options.data_path + " (2 rows, 3 columns, with a header)");
}

TEST(LoadData, HonoursTheFileSizeLimit) {
  Options options;
  options.data_path = write_temporary("load_limit_test.csv", "1,2\n3,4\n5,6\n");
  options.max_file_size = 4;
  EXPECT_THROW(load_data(options), InputError);
  std::remove(options.data_path.c_str());
}

TEST(LoadWeights, NothingWithoutLoadAndTheFileWithIt) {
  EXPECT_TRUE(load_weights(Options{}).params.empty());
  Options options;
  options.load_path = write_temporary(
      "load_test.json",
      R"({"format": "oscnet-weights", "version": 1, "inputs": 1, "outputs": 1, )"
      R"("layers": [{"units": 1, "activation": "tanh"}], "params": [0.5, 0.25, 2.0, -1.0]})");
  const WeightsFile weights = load_weights(options);
  std::remove(options.load_path.c_str());
  EXPECT_EQ(weights.params, (std::vector<double>{0.5, 0.25, 2.0, -1.0}));
  EXPECT_EQ(weights.layers, (std::vector<HiddenLayer>{{1, Activation::tanh}}));
}

}  // namespace
}  // namespace trainer
