// The option parser on any command line (the input split into words at NUL bytes): it refuses
// with a message, or it gives options within their ranges that, written back as a command line,
// parse to the same options.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/trainer/reader_checks.h"
#include "trainer/input_error.h"
#include "trainer/json.h"
#include "trainer/options.h"

namespace {

using trainer::Options;

constexpr std::size_t kMaxWords = 64;
// The largest size --max-file-size and --max-line-length take.
constexpr std::uint64_t kMaxSize = std::uint64_t{1} << 50;

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words = {"oscnet-train"};
  if (text.empty()) return words;  // no options at all: every default
  std::size_t start = 0;
  while (start <= text.size() && words.size() <= kMaxWords) {
    const auto end = std::min(text.find('\0', start), text.size());
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// Throws what parse_options throws.
Options parsed(const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  argv.push_back(nullptr);
  return trainer::parse_options(static_cast<int>(words.size()), argv.data());
}

void check_ranges(const Options& options, const std::string& text) {
  CHECK(options.targets >= 1 && options.targets <= 1000000, text);
  for (const trainer::HiddenLayer& layer : options.layers) CHECK(layer.units >= 1, text);
  CHECK(std::isfinite(options.learning_rate) && options.learning_rate > 0.0, text);
  CHECK(!options.epochs || *options.epochs >= 0, text);
  CHECK(options.iterations >= 1, text);
  CHECK(!options.test_fraction || (*options.test_fraction >= 0.0 && *options.test_fraction < 1.0),
        text);
  CHECK(options.runs >= 1 && options.runs <= 100000, text);
  CHECK(options.jobs >= 0 && options.jobs <= 1024, text);
  CHECK(
      !options.max_file_size || (*options.max_file_size >= 1 && *options.max_file_size <= kMaxSize),
      text);
  CHECK(options.max_line_length <= kMaxSize, text);
  // The last run's seed fits in 32 bits.
  CHECK(static_cast<std::uint64_t>(options.seed) + static_cast<std::uint64_t>(options.runs) - 1 <=
            UINT32_MAX,
        text);
}

// The options as a command line, in both spellings: --name=value and --name value by turns.
std::vector<std::string> command_line(const Options& options) {
  std::vector<std::string> words = {"oscnet-train"};
  bool joined = false;
  const auto add = [&](const std::string& name, const std::string& value) {
    if (joined) {
      words.push_back(name + "=" + value);
    } else {
      words.push_back(name);
      words.push_back(value);
    }
    joined = !joined;
  };
  if (!options.data_path.empty()) add("--data", options.data_path);
  add("--targets", std::to_string(options.targets));
  if (!options.layers.empty()) add("--layers", trainer::format_layers(options.layers));
  add("--optimizer", options.optimizer == trainer::OptimizerChoice::adagrad ? "adagrad" : "gd");
  add("--lr", trainer::format_double(options.learning_rate));
  if (options.epochs) add("--epochs", std::to_string(*options.epochs));
  add("--iterations", std::to_string(options.iterations));
  const auto join = [](const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
    return text;
  };
  if (!options.target_columns.empty()) add("--target", join(options.target_columns));
  if (!options.input_columns.empty()) add("--inputs", join(options.input_columns));
  if (!options.lags.empty()) {
    std::vector<std::string> lags;
    for (const int lag : options.lags) lags.push_back(std::to_string(lag));
    add("--lags", join(lags));
  }
  if (options.horizon) add("--horizon", std::to_string(*options.horizon));
  if (!options.time_column.empty()) add("--time", options.time_column);
  if (!options.classify_column.empty()) add("--classify", options.classify_column);
  if (!options.predict_path.empty()) add("--predict", options.predict_path);
  if (!options.output_path.empty()) add("--output", options.output_path);
  if (options.test_fraction) {
    add("--test-fraction", trainer::format_double(*options.test_fraction));
  }
  if (options.validation_fraction) {
    add("--validation-fraction", trainer::format_double(*options.validation_fraction));
  }
  if (options.patience) add("--patience", std::to_string(*options.patience));
  if (options.split) {
    add("--split", *options.split == trainer::SplitChoice::tail ? "tail" : "random");
  }
  if (options.scaling) {
    add("--scale", *options.scaling == trainer::ScaleChoice::minmax     ? "minmax"
                   : *options.scaling == trainer::ScaleChoice::standard ? "standard"
                                                                        : "none");
  }
  add("--seed", std::to_string(options.seed));
  add("--runs", std::to_string(options.runs));
  add("--jobs", std::to_string(options.jobs));
  if (!options.plot_path.empty()) add("--plot", options.plot_path);
  if (!options.save_path.empty()) add("--save", options.save_path);
  if (!options.load_path.empty()) add("--load", options.load_path);
  if (options.max_file_size) add("--max-file-size", std::to_string(*options.max_file_size));
  if (options.max_line_length != 0) {
    add("--max-line-length", std::to_string(options.max_line_length));
  }
  words.push_back(options.shuffle ? "--shuffle" : "--in-order");
  if (options.quiet) words.push_back("--quiet");
  if (options.show_help) words.push_back("--help");
  if (options.show_version) words.push_back("--version");
  return words;
}

bool same(const Options& a, const Options& b) {
  return a.data_path == b.data_path && a.targets == b.targets && a.layers == b.layers &&
         a.optimizer == b.optimizer && fuzz_trainer::same_bits(a.learning_rate, b.learning_rate) &&
         a.epochs == b.epochs && a.iterations == b.iterations &&
         a.test_fraction.has_value() == b.test_fraction.has_value() &&
         (!a.test_fraction || fuzz_trainer::same_bits(*a.test_fraction, *b.test_fraction)) &&
         a.shuffle == b.shuffle && a.seed == b.seed && a.runs == b.runs && a.jobs == b.jobs &&
         a.target_columns == b.target_columns && a.input_columns == b.input_columns &&
         a.lags == b.lags && a.horizon == b.horizon && a.time_column == b.time_column &&
         a.classify_column == b.classify_column && a.predict_path == b.predict_path &&
         a.output_path == b.output_path &&
         a.validation_fraction.has_value() == b.validation_fraction.has_value() &&
         (!a.validation_fraction ||
          fuzz_trainer::same_bits(*a.validation_fraction, *b.validation_fraction)) &&
         a.patience == b.patience && a.split == b.split && a.scaling == b.scaling &&
         a.quiet == b.quiet && a.plot_path == b.plot_path && a.save_path == b.save_path &&
         a.load_path == b.load_path && a.max_file_size == b.max_file_size &&
         a.max_line_length == b.max_line_length && a.show_help == b.show_help &&
         a.show_version == b.show_version;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += "[" + word + "] ";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = split_words(text);
  std::size_t word_bytes = 0;
  for (const std::string& word : words) word_bytes += word.size();

  Options options;
  try {
    options = parsed(words);
  } catch (const trainer::InputError& error) {
    // Options may quote the word at fault whole: the user typed it. Nothing more than that.
    const std::string message = error.what();
    CHECK(!message.empty(), joined(words));
    CHECK(message.size() <= fuzz_trainer::kMaxMessage + word_bytes, message);
    return 0;
  }
  check_ranges(options, joined(words));

  const std::vector<std::string> again_words = command_line(options);
  Options again;
  try {
    again = parsed(again_words);
  } catch (const trainer::InputError& error) {
    fuzz_trainer::violated(__FILE__, __LINE__, "options it gave, written back, parse again",
                           std::string(error.what()) + " on " + joined(again_words));
  }
  CHECK(same(again, options), joined(again_words));
  return 0;
}
