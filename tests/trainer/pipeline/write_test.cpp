// The write step: outputs that would destroy inputs refused, and saved weights that predict on
// the data's own units what the kept run predicted.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "made_up_state.h"
#include "trainer/input_error.h"
#include "trainer/network.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/write.h"
#include "trainer/weights_file.h"

namespace trainer {
namespace {

TEST(CheckOutputs, RefusesToOverwriteTheDataOrWriteTwiceToAFile) {
  const std::string data = ::testing::TempDir() + "/write_test_data.csv";
  Options options;
  options.data_path = data;
  options.save_path = data;
  EXPECT_THROW(check_outputs(options), InputError);
  options.save_path = ::testing::TempDir() + "/write_test.json";
  options.plot_path = options.save_path;
  EXPECT_THROW(check_outputs(options), InputError);
  options.plot_path = ::testing::TempDir() + "/write_test.svg";
  EXPECT_NO_THROW(check_outputs(options));
  options.plot_path = ::testing::TempDir() + "/no such directory/write_test.svg";
  EXPECT_THROW(check_outputs(options), InputError);
}

TEST(WriteOutputs, SavedWeightsPredictInTheDatasUnitsWhateverTheScaling) {
  for (const ScaleChoice scaling :
       {ScaleChoice::minmax, ScaleChoice::standard, ScaleChoice::none}) {
    Options options;
    options.epochs = 10;
    options.quiet = true;
    options.scaling = scaling;
    options.learning_rate = scaling == ScaleChoice::none ? 1e-6 : 0.01;
    options.validation_fraction = 0.2;
    options.split = SplitChoice::random;
    options.save_path = ::testing::TempDir() + "/write_test_saved.json";
    options.layers = {{5, Activation::tanh}, {3, Activation::sigmoid}};
    // Targets far from [-1, 1], so that an unfolded scaling could not pass.
    Dataset data = smooth_data(30);
    for (double& target : data.targets) target = 500 + 40 * target;
    const RunState state = made_up_state(data, options);
    const RunResult run = train_run(state, 1, false, [](int, double, double) { return true; });
    const Outcome outcome = evaluate(state, 1, run.params);

    const std::string text =
        printed([&](std::FILE* out) { write_outputs(out, state, run, outcome); });
    EXPECT_EQ(text,
              "\nweights saved to " + options.save_path + " (they work on the data's own units)\n");
    const WeightsFile saved = read_weights_file(options.save_path);
    std::remove(options.save_path.c_str());
    EXPECT_EQ(saved.layers, options.layers);
    Network network(2, 1, saved.layers, 1);
    network.set_params(saved.params);
    std::vector<double> predicted(state.test_rows());
    network.predict_rows(state.data.input_row(state.test_start()), state.test_rows(),
                         predicted.data());
    ASSERT_EQ(predicted.size(), outcome.test_predicted.size());
    for (std::size_t r = 0; r < predicted.size(); ++r) {
      EXPECT_NEAR(predicted[r], outcome.test_predicted[r], 1e-9)
          << "row " << r << ", scaling " << static_cast<int>(scaling);
    }
  }
}

TEST(WriteOutputs, NothingAskedNothingWritten) {
  const RunState state = made_up_state(smooth_data(10));
  const RunResult run;
  const Outcome outcome = evaluate(state, 1, std::vector<double>(layout_of(state).count(), 0.0));
  EXPECT_EQ(printed([&](std::FILE* out) { write_outputs(out, state, run, outcome); }), "");
}

std::string read_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr) << path;
  std::string text;
  if (file == nullptr) return text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(WriteOutputs, ThePlotLabelsTheTestRowsWithTheirOwnLabels) {
  Options options;
  options.plot_path = ::testing::TempDir() + "/write_test_labels.svg";
  Dataset data = smooth_data(30);
  for (std::size_t r = 0; r < data.rows; ++r) data.row_labels.push_back("t" + std::to_string(r));
  const RunState state = made_up_state(data, options);
  const RunResult run;
  const Outcome outcome = evaluate(state, 1, std::vector<double>(layout_of(state).count(), 0.0));
  printed([&](std::FILE* out) { write_outputs(out, state, run, outcome); });
  const std::string svg = read_file(options.plot_path);
  std::remove(options.plot_path.c_str());
  // The test rows are the last 6: t24 to t29.
  EXPECT_NE(svg.find(">t24</text>"), std::string::npos);
  EXPECT_NE(svg.find(">t29</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">t23</text>"), std::string::npos);
}

TEST(WriteOutputs, AClassificationsPlotShowsTheTestRowsConfusionMatrix) {
  Options options;
  options.plot_path = ::testing::TempDir() + "/write_test_classes.svg";
  options.test_fraction = 0.5;
  Dataset data = made_up_data(1, 2, {0, 1, 2, 3}, {1, 0, 0, 1, 0, 1, 0, 1});
  data.class_names = {"cats & dogs", "birds"};
  const RunState state = made_up_state(data, options);
  Outcome outcome;
  outcome.training_truth = {1, 0, 0, 1};
  outcome.test_truth = {0, 1, 0, 1};
  outcome.training_predicted = {1, 0, 0, 1};
  outcome.test_predicted = {0.7, 0.3, 0.1, 0.9};
  const RunResult run;
  printed([&](std::FILE* out) { write_outputs(out, state, run, outcome); });
  const std::string svg = read_file(options.plot_path);
  std::remove(options.plot_path.c_str());
  EXPECT_NE(svg.find("Confusion matrix, test rows"), std::string::npos);
  EXPECT_NE(svg.find(">cats &amp; dogs</text>"), std::string::npos);
  // Both test rows are birds, one called cats & dogs: counts 0, 0 in the first row, 1, 1 in the
  // second, in that order.
  std::vector<std::string> counts;
  for (std::size_t at = svg.find("class=\"count\""); at != std::string::npos;
       at = svg.find("class=\"count\"", at + 1)) {
    const std::size_t start = svg.find('>', at) + 1;
    counts.push_back(svg.substr(start, svg.find('<', start) - start));
  }
  EXPECT_EQ(counts, (std::vector<std::string>{"0", "0", "1", "1"}));
}

}  // namespace
}  // namespace trainer
