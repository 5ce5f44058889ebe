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

/// How the validation and test rows are chosen: at random (seeded) or from the end, in order.
enum class SplitChoice { random, tail };

/// How each column is brought to the network's range: to [-1, 1], to mean 0 and deviation 1,
/// or not at all.
enum class ScaleChoice { minmax, standard, none };

/// Everything the command line says; unset optionals take defaults that depend on the data.
struct Options {
  std::string data_path;  ///< empty: the built-in Mackey-Glass series; "-": standard input
  int targets = 1;
  /// Columns by header name or 1-based number; empty: the last `targets` columns are the
  /// targets and every other numeric column is an input.
  std::vector<std::string> target_columns;
  std::vector<std::string> input_columns;
  std::vector<int> lags;            ///< with --lags: the inputs are these past values of the series
  std::optional<int> horizon;       ///< with --lags: how far ahead the target lies
  std::string time_column;          ///< labels the plot's rows; never an input
  std::string classify_column;      ///< the label column of a classification
  std::string predict_path;         ///< rows to predict with --load, instead of training
  std::string output_path;          ///< CSV of predictions
  std::vector<HiddenLayer> layers;  ///< empty: the default, or the loaded file's layers
  OptimizerChoice optimizer = OptimizerChoice::gradient_descent;
  double learning_rate = 0.001;
  std::optional<int> epochs;  ///< unset: 4000, or 0 with --load
  int iterations = 1;
  std::optional<double> test_fraction;        ///< unset: 0.5 for the series, 0.2 for a file
  std::optional<double> validation_fraction;  ///< of the training rows; unset: the default
  std::optional<int> patience;       ///< epochs without a better validation loss before stopping
  std::optional<SplitChoice> split;  ///< unset: tail for series and lagged rows, else random
  bool shuffle = true;  ///< a new order of the training rows every epoch; --in-order: false
  std::uint32_t seed = 1;
  int runs = 1;                        ///< seeds seed, seed + 1, ..., seed + runs - 1
  int jobs = 1;                        ///< threads training the runs; 0: one per core
  std::optional<ScaleChoice> scaling;  ///< unset: the default; --no-scale is none
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
