#ifndef OSCNET_TRAINER_OPTIONS_H
#define OSCNET_TRAINER_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trainer/activation.h"

namespace trainer {

enum class OptimizerChoice { gradient_descent, adagrad };

/// Everything the command line says; unset optionals take defaults that depend on the data.
struct Options {
  std::string data_path;  ///< empty: the built-in Mackey-Glass series; "-": standard input
  int targets = 1;
  std::vector<HiddenLayer> layers;  ///< empty: the default, or the loaded file's layers
  OptimizerChoice optimizer = OptimizerChoice::gradient_descent;
  double learning_rate = 0.01;
  std::optional<int> epochs;  ///< unset: 2000, or 0 with --load
  int iterations = 1;
  std::optional<double> test_fraction;  ///< unset: 0.5 for the series, 0.2 for a file
  bool shuffle = false;
  std::uint32_t seed = 1;
  int runs = 1;  ///< seeds seed, seed + 1, ..., seed + runs - 1
  int jobs = 1;  ///< threads training the runs; 0: one per core
  bool scale = true;
  bool quiet = false;
  std::string plot_path;
  std::string save_path;
  std::string load_path;
  std::optional<std::uint64_t> max_file_size;  ///< unset: the defaults for data and weights
  std::size_t max_line_length = 0;             ///< 0: the default
  bool show_help = false;
  bool show_version = false;
};

/// The hidden layers default to this when neither --layers nor --load gives them.
std::vector<HiddenLayer> default_layers();

/// Reads argv; throws InputError for an unknown option, a missing or malformed value, or a
/// value out of range.
Options parse_options(int argc, const char* const* argv);

/// Parses "16:tanh,8:lee"; throws InputError naming the faulty layer.
std::vector<HiddenLayer> parse_layers(const std::string& text);

/// "16:tanh,8:lee", the form parse_layers reads.
std::string format_layers(const std::vector<HiddenLayer>& layers);

/// The --help text.
std::string usage_text();

}  // namespace trainer

#endif
