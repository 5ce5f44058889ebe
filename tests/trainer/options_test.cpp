// The command line: every option in both spellings, and the values each refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "trainer/input_error.h"
#include "trainer/options.h"

namespace trainer {
namespace {

Options parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "oscnet-train");
  return parse_options(static_cast<int>(arguments.size()), arguments.data());
}

// The message parse raises for `arguments`, or "" when it takes them.
std::string error_of(const std::vector<const char*>& arguments) {
  try {
    parse(arguments);
  } catch (const InputError& error) {
    return error.what();
  }
  return "";
}

TEST(Options, ReadsEveryOptionInBothSpellings) {
  const std::vector<std::vector<const char*>> spellings = {
      {"--data",
       "in.csv",
       "--targets",
       "2",
       "--layers",
       "3:relu,2:none",
       "--optimizer",
       "adagrad",
       "--lr",
       "0.5",
       "--epochs",
       "0",
       "--iterations",
       "3",
       "--test-fraction",
       "0",
       "--shuffle",
       "--seed",
       "4294967295",
       "--no-scale",
       "--quiet",
       "--plot",
       "p.svg",
       "--save",
       "s.json",
       "--load",
       "l.json",
       "--help",
       "--version"},
      {"--data=in.csv", "--targets=2", "--layers=3:relu,2:none", "--optimizer=adagrad", "--lr=0.5",
       "--epochs=0", "--iterations=3", "--test-fraction=0", "--shuffle", "--seed=4294967295",
       "--no-scale", "--quiet", "--plot=p.svg", "--save=s.json", "--load=l.json", "-h",
       "--version"},
  };
  for (const auto& arguments : spellings) {
    const Options options = parse(arguments);
    EXPECT_EQ(options.data_path, "in.csv");
    EXPECT_EQ(options.targets, 2);
    EXPECT_EQ(options.layers,
              (std::vector<HiddenLayer>{{3, Activation::relu}, {2, Activation::none}}));
    EXPECT_EQ(options.optimizer, OptimizerChoice::adagrad);
    EXPECT_EQ(options.learning_rate, 0.5);
    EXPECT_EQ(options.epochs.value_or(-1), 0);
    EXPECT_EQ(options.iterations, 3);
    EXPECT_EQ(options.test_fraction.value_or(-1), 0.0);
    EXPECT_TRUE(options.shuffle);
    EXPECT_EQ(options.seed, UINT32_MAX);
    EXPECT_EQ(options.scaling, ScaleChoice::none);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.plot_path, "p.svg");
    EXPECT_EQ(options.save_path, "s.json");
    EXPECT_EQ(options.load_path, "l.json");
    EXPECT_TRUE(options.show_help);
    EXPECT_TRUE(options.show_version);
  }
}

TEST(Options, ValuesAreTakenAsWritten) {
  // Only the first '=' separates; a value may start with '-'; the last of repeats counts.
  const Options options = parse({"--data=a=b.csv", "--save", "-out.json", "--lr", "0.5", "--lr",
                                 "2e-3", "--optimizer", "gd", "--test-fraction", "0.999"});
  EXPECT_EQ(options.data_path, "a=b.csv");
  EXPECT_EQ(options.save_path, "-out.json");
  EXPECT_EQ(options.learning_rate, 0.002);
  EXPECT_EQ(options.optimizer, OptimizerChoice::gradient_descent);
  EXPECT_EQ(options.test_fraction.value_or(-1), 0.999);
  EXPECT_EQ(parse({"--seed", "0"}).seed, 0u);
}

TEST(Options, RunsAndJobs) {
  const Options defaults = parse({});
  EXPECT_EQ(defaults.runs, 1);
  EXPECT_EQ(defaults.jobs, 1);
  for (const auto& arguments : std::vector<std::vector<const char*>>{{"--runs", "5", "--jobs", "0"},
                                                                     {"--runs=5", "--jobs=0"}}) {
    const Options options = parse(arguments);
    EXPECT_EQ(options.runs, 5);
    EXPECT_EQ(options.jobs, 0);
  }
  // The last seed may be the largest there is, whichever option comes first.
  EXPECT_EQ(parse({"--runs", "3", "--seed", "4294967293"}).seed, 4294967293u);
  EXPECT_EQ(parse({"--seed", "4294967294", "--runs", "2"}).runs, 2);
  EXPECT_EQ(parse({"--runs", "100000", "--jobs", "1024"}).jobs, 1024);
}

TEST(Options, TrainingRowsAreShuffledUnlessInOrder) {
  EXPECT_TRUE(parse({}).shuffle);
  EXPECT_TRUE(parse({"--shuffle"}).shuffle);
  EXPECT_FALSE(parse({"--in-order"}).shuffle);
  EXPECT_EQ(error_of({"--in-order", "--shuffle"}).rfind("--in-order contradicts --shuffle", 0), 0u);
}

TEST(Options, ColumnsLagsSplitsAndScaling) {
  const Options defaults = parse({});
  EXPECT_TRUE(defaults.target_columns.empty());
  EXPECT_FALSE(defaults.split.has_value());
  EXPECT_FALSE(defaults.scaling.has_value());
  const Options options = parse({"--target",   " price , 3", "--inputs=a,b",
                                 "--lags",     "18,12,6,0",  "--horizon",
                                 "6",          "--split",    "tail",
                                 "--scale",    "standard",   "--validation-fraction",
                                 "0.25",       "--patience", "0",
                                 "--classify", "kind",       "--time",
                                 "date",       "--predict",  "new.csv",
                                 "--output",   "out.csv"});
  EXPECT_EQ(options.target_columns, (std::vector<std::string>{"price", "3"}));
  EXPECT_EQ(options.input_columns, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(options.lags, (std::vector<int>{18, 12, 6, 0}));
  EXPECT_EQ(options.horizon, 6);
  EXPECT_EQ(options.split, SplitChoice::tail);
  EXPECT_EQ(options.scaling, ScaleChoice::standard);
  EXPECT_EQ(options.validation_fraction, 0.25);
  EXPECT_EQ(options.patience, 0);
  EXPECT_EQ(options.classify_column, "kind");
  EXPECT_EQ(options.time_column, "date");
  EXPECT_EQ(options.predict_path, "new.csv");
  EXPECT_EQ(options.output_path, "out.csv");
  EXPECT_EQ(parse({"--no-scale", "--scale", "none"}).scaling, ScaleChoice::none);
}

TEST(Options, RefusesWhatItCannotUse) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--rate", "1"}, "unknown option '--rate'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--shuffle=yes"}, "unknown option '--shuffle=yes'"},
      {{"data.csv"}, "unexpected argument 'data.csv'"},
      {{"--quiet", "data.csv"}, "unexpected argument 'data.csv'"},
      {{"--lr"}, "--lr needs a value"},
      {{"--data"}, "--data needs a value"},
      {{"--data="}, "--data needs a value"},
      {{"--lr", "0"}, "--lr"},
      {{"--lr", "-0.5"}, "--lr"},
      {{"--lr", "nan"}, "--lr"},
      {{"--lr", "inf"}, "--lr"},
      {{"--lr", "1e999"}, "--lr"},
      {{"--lr", "0.5x"}, "--lr"},
      {{"--lr", "--epochs"}, "--lr"},
      {{"--test-fraction", "1"}, "--test-fraction"},
      {{"--test-fraction", "-0.1"}, "--test-fraction"},
      {{"--test-fraction", "nan"}, "--test-fraction"},
      {{"--epochs", "-1"}, "--epochs"},
      {{"--epochs", "2.5"}, "--epochs"},
      {{"--epochs", "2147483648"}, "--epochs"},
      {{"--iterations", "0"}, "--iterations"},
      {{"--targets", "0"}, "--targets"},
      {{"--seed", "4294967296"}, "--seed"},
      {{"--seed", "-1"}, "--seed"},
      {{"--seed", "+1"}, "--seed"},
      {{"--optimizer", "sgd"}, "--optimizer"},
      {{"--runs", "0"}, "--runs must be a whole number from 1 to 100000"},
      {{"--runs", "100001"}, "--runs"},
      {{"--runs", "two"}, "--runs"},
      {{"--jobs", "-1"}, "--jobs must be a whole number from 0 to 1024"},
      {{"--jobs", "1025"}, "--jobs"},
      {{"--jobs", "1.5"}, "--jobs"},
      {{"--seed", "4294967295", "--runs", "2"}, "--runs 2 from --seed 4294967295"},
      {{"--runs", "4", "--seed", "4294967293"}, "--runs 4 from --seed 4294967293"},
      {{"--layers", "16"}, "--layers: layer 1"},
      {{"--target", "a,,b"}, "--target takes a comma-separated list with no empty item"},
      {{"--inputs", ","}, "--inputs takes"},
      {{"--lags", "6,-1"}, "--lags must be a whole number from 0"},
      {{"--lags", "6;0"}, "--lags"},
      {{"--horizon", "0"}, "--horizon must be a whole number from 1"},
      {{"--validation-fraction", "1"}, "--validation-fraction must be at least 0 and below 1"},
      {{"--patience", "-1"}, "--patience"},
      {{"--split", "head"}, "--split takes random or tail"},
      {{"--scale", "log"}, "--scale takes minmax, standard or none"},
      {{"--no-scale", "--scale", "standard"}, "--no-scale contradicts --scale"},
  };
  for (const auto& [arguments, expected] : cases) {
    const std::string message = error_of(arguments);
    EXPECT_EQ(message.rfind(expected, 0), 0u) << arguments[0] << ": '" << message << "'";
  }
}

TEST(Layers, ParseAndFormatRoundTrip) {
  const std::vector<HiddenLayer> layers =
      parse_layers(" 16 : tanh , 8:lee,1:relu,2:sigmoid,3:none");
  EXPECT_EQ(layers, (std::vector<HiddenLayer>{{16, Activation::tanh},
                                              {8, Activation::lee},
                                              {1, Activation::relu},
                                              {2, Activation::sigmoid},
                                              {3, Activation::none}}));
  EXPECT_EQ(format_layers(layers), "16:tanh,8:lee,1:relu,2:sigmoid,3:none");
  EXPECT_EQ(parse_layers(format_layers(layers)), layers);
  EXPECT_EQ(parse_layers(format_layers(default_layers())), default_layers());
}

TEST(Layers, ErrorsNameTheFaultyLayer) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"16tanh", "--layers: layer 1 ('16tanh') is not UNITS:ACTIVATION"},
      {"", "--layers: layer 1 ('') is not UNITS:ACTIVATION"},
      {"16:tanh,", "--layers: layer 2 ('') is not UNITS:ACTIVATION"},
      {"16:tanh,,8:lee", "--layers: layer 2 ('')"},
      {"16:tanh,8:softmax", "--layers: layer 2 ('8:softmax'): unknown activation 'softmax'"},
      {"16:Tanh", "--layers: layer 1 ('16:Tanh'): unknown activation 'Tanh'"},
      {"4:tanh,0:lee", "--layers: layer 2 ('0:lee'): units must be"},
      {"-1:tanh", "--layers: layer 1 ('-1:tanh'): units must be"},
      {"x:tanh", "--layers: layer 1 ('x:tanh'): units must be"},
      {"2147483648:tanh", "--layers: layer 1 ('2147483648:tanh'): units must be"},
  };
  for (const auto& [text, expected] : cases) {
    try {
      parse_layers(text);
      ADD_FAILURE() << "took '" << text << "'";
    } catch (const InputError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(expected, 0), 0u) << error.what();
    }
  }
}

}  // namespace
}  // namespace trainer
