// oscnet-train: trains oscnet networks on a CSV file, or on the Mackey-Glass chaotic series
// when given no data, through the library's network handles, and reports how well they
// learned next to naive forecasts.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "oscnet.h"
#include "trainer/csv_reader.h"
#include "trainer/dataset.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"
#include "trainer/mackey_glass.h"
#include "trainer/metrics.h"
#include "trainer/network.h"
#include "trainer/options.h"
#include "trainer/parallel_runs.h"
#include "trainer/progress.h"
#include "trainer/report.h"
#include "trainer/run_summary.h"
#include "trainer/runs_progress.h"
#include "trainer/scaling.h"
#include "trainer/shortened.h"
#include "trainer/svg_plot.h"
#include "trainer/text_files.h"
#include "trainer/weights_file.h"

namespace trainer {
namespace {

constexpr double kSeriesTestFraction = 0.5;  // t = 618..1117, the customary split
constexpr double kFileTestFraction = 0.2;
constexpr int kDefaultEpochs = 2000;
// The library draws its initial weights the same way; drawing them here keeps them what they
// were before networks had seeds of their own.
constexpr double kInitialWeightDeviation = 0.01;

// What each of a run's random streams is for: the streams are made from the run's seed and
// these, so that drawing for one purpose never shifts another (the plot's extra evaluations,
// for one, must not change what training draws).
enum Purpose : std::uint32_t {
  kInitialWeights = 0,
  kShuffling = 1,
  kTrainingNetwork = 2,    // the oscillator's draws while training
  kEvaluationNetwork = 3,  // those of the final evaluation, made afresh
  kMonitorNetwork = 4,     // those of the test loss after each epoch, for the plot
};

bool all_finite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// "1 row", "2 rows".
std::string counted(std::size_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

Dataset load_data(const Options& options) {
  if (options.data_path.empty()) {
    if (options.targets != 1) {
      throw InputError("--targets applies to --data files; the built-in series has one target");
    }
    return mackey_glass_dataset();
  }
  InputLimits limits;
  limits.max_file_size = options.max_file_size.value_or(kDefaultMaxDataFileSize);
  if (options.max_line_length > 0) limits.max_line_length = options.max_line_length;
  const bool standard_input = options.data_path == "-";
  const std::string shown = standard_input ? "standard input" : options.data_path;
  const Table table = read_csv(options.data_path, limits);
  const std::string description = shown + " (" + counted(table.rows(), "row") + ", " +
                                  counted(table.columns(), "column") +
                                  (table.has_header ? ", with a header" : "") + ")";
  const std::string name =
      standard_input ? shown : std::filesystem::path(options.data_path).filename().string();
  return split_columns(name, description, table.column_names, table.cells, table.columns(),
                       static_cast<std::size_t>(options.targets));
}

// One of several independent generators made from a run's seed.
std::mt19937 random_stream(std::uint32_t seed, std::uint32_t purpose) {
  std::seed_seq sequence{seed, purpose};
  return std::mt19937(sequence);
}

// An index below `bound`, every one equally likely, the same on every platform. `bound` is a
// row count, far below 2^32 for rows held in memory.
std::size_t draw_below(std::mt19937& engine, std::size_t bound) {
  const std::uint64_t range = std::uint64_t{1} << 32;
  const std::uint64_t limit = range - range % bound;
  std::uint64_t draw = engine();
  while (draw >= limit) draw = engine();
  return static_cast<std::size_t>(draw % bound);
}

void shuffle(std::vector<std::size_t>& order, std::mt19937& engine) {
  for (std::size_t i = order.size(); i > 1; --i)
    std::swap(order[i - 1], order[draw_below(engine, i)]);
}

std::string describe_network(const Dataset& data, const std::vector<HiddenLayer>& layers,
                             std::size_t weights) {
  std::string text = counted(data.input_width(), "input");
  for (const HiddenLayer& layer : layers) {
    text += " -> " + std::to_string(layer.units) + " " + activation_name(layer.activation);
  }
  text += " -> " + counted(data.target_width(), "output");
  return text + " (" + std::to_string(weights) + " weights)";
}

struct Split {
  std::size_t training_rows;
  std::size_t test_rows;
};

Split split_rows(const Dataset& data, double test_fraction) {
  const auto test_rows =
      static_cast<std::size_t>(std::llround(test_fraction * static_cast<double>(data.rows)));
  if (test_rows >= data.rows) {
    throw InputError(data.description + ": too few rows to train on after holding out " +
                     counted(test_rows, "row") + " for testing");
  }
  if (test_fraction > 0.0 && test_rows == 0) {
    char fraction[32];
    std::snprintf(fraction, sizeof fraction, "%g", test_fraction);
    throw InputError(data.description + ": too few rows to hold out a fraction of " + fraction +
                     " for testing; give more rows or --test-fraction 0");
  }
  return {data.rows - test_rows, test_rows};
}

// Rows [first, first + count) of row-by-row `cells` of `width` columns.
std::vector<double> rows_of(const std::vector<double>& cells, std::size_t width, std::size_t first,
                            std::size_t count) {
  return std::vector<double>(cells.begin() + static_cast<std::ptrdiff_t>(first * width),
                             cells.begin() + static_cast<std::ptrdiff_t>((first + count) * width));
}

// Column `column` of row-by-row `cells` of `width` columns.
std::vector<double> column_of(const std::vector<double>& cells, std::size_t width,
                              std::size_t column) {
  std::vector<double> values;
  for (std::size_t i = column; i < cells.size(); i += width) values.push_back(cells[i]);
  return values;
}

// True when the two paths name one file, existing or not.
bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  return fs::weakly_canonical(fs::absolute(a), error) ==
         fs::weakly_canonical(fs::absolute(b), error);
}

// Refuses outputs that would overwrite an input, or each other. Saving over the loaded weights
// is allowed: that is how a host keeps training one file.
void check_paths(const Options& options) {
  const std::pair<const std::string*, const char*> inputs[] = {{&options.data_path, "--data"},
                                                               {&options.load_path, "--load"}};
  const auto refuse_clash = [&](const std::string& output, const char* output_option,
                                const std::string& other, const char* other_option) {
    // Standard input is no file to overwrite.
    if (&other == &options.data_path && other == "-") return;
    if (!output.empty() && !other.empty() && same_file(output, other)) {
      throw InputError(std::string(output_option) + " " + output + " is the file given to " +
                       other_option + "; writing it would destroy that");
    }
  };
  refuse_clash(options.save_path, "--save", options.data_path, "--data");
  for (const auto& [path, option] : inputs) {
    refuse_clash(options.plot_path, "--plot", *path, option);
  }
  refuse_clash(options.plot_path, "--plot", options.save_path, "--save");
}

// Everything the runs share once the options, data and weights file have been checked.
struct Setup {
  Options options;
  Dataset data;
  std::vector<HiddenLayer> layers;
  WeightsFile loaded;  ///< empty unless --load
  Split split{};
  int epochs = 0;
  ColumnScaling input_scaling;
  ColumnScaling target_scaling;
  std::vector<double> scaled_inputs;
  std::vector<double> scaled_targets;

  std::size_t in() const { return data.input_width(); }
  std::size_t out() const { return data.target_width(); }
  std::size_t training_rows() const { return split.training_rows; }
  std::size_t test_rows() const { return split.test_rows; }
  std::size_t runs() const { return static_cast<std::size_t>(options.runs); }
  // Run `index` uses this seed; parse_options keeps it in range.
  std::uint32_t seed(std::size_t index) const {
    return options.seed + static_cast<std::uint32_t>(index);
  }
};

Setup prepare(const Options& options) {
  Setup setup;
  setup.options = options;
  setup.data = load_data(options);
  const Dataset& data = setup.data;
  setup.layers = options.layers.empty() ? default_layers() : options.layers;
  if (!options.load_path.empty()) {
    setup.loaded = read_weights_file(options.load_path,
                                     options.max_file_size.value_or(kDefaultMaxWeightsFileSize));
    const WeightsFile& loaded = setup.loaded;
    if (static_cast<std::size_t>(loaded.inputs) != data.input_width() ||
        static_cast<std::size_t>(loaded.outputs) != data.target_width()) {
      throw InputError(options.load_path + " holds a network of " +
                       counted(static_cast<std::size_t>(loaded.inputs), "input") + " and " +
                       counted(static_cast<std::size_t>(loaded.outputs), "output") +
                       ", but the data has " + counted(data.input_width(), "input column") +
                       " and " + counted(data.target_width(), "target column"));
    }
    if (!options.layers.empty() && options.layers != loaded.layers) {
      throw InputError("--layers " + format_layers(options.layers) + " differs from the layers " +
                       format_layers(loaded.layers) + " in " + options.load_path);
    }
    setup.layers = loaded.layers;
  }
  setup.epochs = options.epochs.value_or(options.load_path.empty() ? kDefaultEpochs : 0);
  setup.split =
      split_rows(data, options.test_fraction.value_or(
                           options.data_path.empty() ? kSeriesTestFraction : kFileTestFraction));

  const std::size_t rows = setup.training_rows();
  const bool scale = options.scaling.value_or(ScaleChoice::minmax) != ScaleChoice::none;
  setup.input_scaling = scale ? ColumnScaling::to_unit_range(data.inputs, setup.in(), rows)
                              : ColumnScaling::identity(setup.in());
  setup.target_scaling = scale ? ColumnScaling::to_unit_range(data.targets, setup.out(), rows)
                               : ColumnScaling::identity(setup.out());
  setup.scaled_inputs = data.inputs;
  setup.input_scaling.apply(setup.scaled_inputs);
  setup.scaled_targets = data.targets;
  setup.target_scaling.apply(setup.scaled_targets);
  return setup;
}

// A network of the setup's layers holding `params`, whose own random draws come from the
// stream of `purpose` for the run of `seed`.
Network make_network(const Setup& setup, std::uint32_t seed, Purpose purpose,
                     const std::vector<double>& params) {
  Network network(static_cast<int>(setup.in()), static_cast<int>(setup.out()), setup.layers,
                  random_stream(seed, purpose)());
  network.set_params(params);
  return network;
}

WeightLayout layout_of(const Setup& setup) {
  WeightLayout layout;
  layout.widths.push_back(static_cast<int>(setup.in()));
  for (const HiddenLayer& layer : setup.layers) layout.widths.push_back(layer.units);
  layout.widths.push_back(static_cast<int>(setup.out()));
  return layout;
}

// The first weights: the loaded ones, or normal draws as the library makes them.
std::vector<double> initial_weights(const Setup& setup, std::uint32_t seed) {
  const WeightLayout layout = layout_of(setup);
  std::vector<double> params(layout.count());
  if (!setup.options.load_path.empty()) {
    params = setup.loaded.params;
    unfold_scaling(params, layout, setup.input_scaling, setup.target_scaling);
    if (!all_finite(params)) {
      throw InputError(setup.options.load_path +
                       ": its weights are too large to work on this data's scale");
    }
  } else {
    std::mt19937 engine = random_stream(seed, kInitialWeights);
    std::normal_distribution<double> draw(0.0, kInitialWeightDeviation);
    for (double& value : params) value = draw(engine);
  }
  return params;
}

// The network's outputs, in the scaled units it works in, for rows [first, first + count).
std::vector<double> scaled_predictions(Network& network, const Setup& setup, std::size_t first,
                                       std::size_t count) {
  std::vector<double> predicted(count * setup.out());
  network.predict_rows(&setup.scaled_inputs[first * setup.in()], count, predicted.data());
  return predicted;
}

// The loss train() reports, for rows [first, first + count) of `predicted`: the mean over the
// rows of the squared error summed over the outputs, in scaled units.
double mean_loss(const std::vector<double>& predicted, const Setup& setup, std::size_t first,
                 std::size_t count) {
  double sum = 0.0;
  for (std::size_t i = 0; i < count * setup.out(); ++i) {
    const double error = predicted[i] - setup.scaled_targets[first * setup.out() + i];
    sum += error * error;
  }
  return sum / static_cast<double>(count);
}

// The same as train() reports for row r, measured now.
double row_loss(Network& network, const Setup& setup, std::size_t r, std::vector<double>& output) {
  network.predict(&setup.scaled_inputs[r * setup.in()], output.data());
  double sum = 0.0;
  for (std::size_t k = 0; k < setup.out(); ++k) {
    const double error = output[k] - setup.scaled_targets[r * setup.out() + k];
    sum += error * error;
  }
  return sum;
}

// In the data's units.
std::vector<double> unscaled(std::vector<double> predicted, const Setup& setup) {
  for (std::size_t r = 0; r < predicted.size() / setup.out(); ++r) {
    setup.target_scaling.invert_row(&predicted[r * setup.out()]);
  }
  return predicted;
}

// Weights that are finite numbers can still be too large for the data: refused before any
// training, so that the failure is not laid at the learning rate's door.
void check_loaded_outputs(const Setup& setup) {
  const std::uint32_t seed = setup.seed(0);
  Network network = make_network(setup, seed, kEvaluationNetwork, initial_weights(setup, seed));
  const std::vector<double> outputs =
      unscaled(scaled_predictions(network, setup, 0, setup.training_rows()), setup);
  if (!all_finite(outputs)) {
    throw InputError(setup.options.load_path +
                     ": its network's outputs on this data are beyond the range of numbers");
  }
}

// Makes and drops a network of these layers, so that the library's refusal comes before the
// report starts.
void check_network(const Setup& setup) {
  [[maybe_unused]] const Network probe(static_cast<int>(setup.in()), static_cast<int>(setup.out()),
                                       setup.layers, 0);
}

std::string seeds_text(const Setup& setup) {
  if (setup.runs() == 1) return "seed " + std::to_string(setup.seed(0));
  return "seeds " + std::to_string(setup.seed(0)) + " to " +
         std::to_string(setup.seed(setup.runs() - 1));
}

void print_header(const Setup& setup) {
  const Options& options = setup.options;
  std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
  std::printf("data      %s\n", setup.data.description.c_str());
  if (setup.test_rows() > 0) {
    std::printf("rows      %zu for training, %zu for testing (the last ones, in order)\n",
                setup.training_rows(), setup.test_rows());
  } else {
    std::printf("rows      %zu for training, none held out for testing\n", setup.training_rows());
  }
  std::printf("network   %s%s\n",
              describe_network(setup.data, setup.layers, layout_of(setup).count()).c_str(),
              options.load_path.empty() ? "" : (", loaded from " + options.load_path).c_str());
  if (setup.epochs == 0) {
    std::printf("training  none: the network is evaluated as it is, %s\n",
                seeds_text(setup).c_str());
  } else {
    std::printf("training  %s, learning rate %g, %s of %s per row, %s, %s\n",
                options.optimizer == OptimizerChoice::adagrad ? "Adagrad" : "gradient descent",
                options.learning_rate,
                counted(static_cast<std::size_t>(setup.epochs), "epoch").c_str(),
                counted(static_cast<std::size_t>(options.iterations), "step").c_str(),
                options.shuffle ? "shuffled" : "in order", seeds_text(setup).c_str());
  }
  std::printf("scaling   %s\n", options.scaling.value_or(ScaleChoice::minmax) != ScaleChoice::none
                                    ? "every column to [-1, 1] on the training rows"
                                    : "none (--no-scale)");
  std::fflush(stdout);
}

class TrainingFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Told of each finished epoch and its loss; returns false when the run's outcome is no longer
// wanted and it may stop.
using EpochHook = std::function<bool(int epoch, double loss)>;

// What one run reached.
struct RunResult {
  RunFigures figures;
  std::vector<double> params;         ///< trained, in scaled units
  std::vector<double> training_loss;  ///< per epoch
  std::vector<double> test_loss;      ///< per epoch, when plotting
};

// Runs the epochs of the run of `seed`; returns each epoch's mean loss over the training rows,
// each row's loss measured before its first step. `test_loss` gets the loss on the test rows
// after each epoch when it is not null.
std::vector<double> train_epochs(Network& network, const Setup& setup, std::uint32_t seed,
                                 std::vector<double>* test_loss, const EpochHook& hook) {
  const Options& options = setup.options;
  const int optimizer_code =
      options.optimizer == OptimizerChoice::adagrad ? OSCNET_ADAGRAD : OSCNET_GRADIENT_DESCENT;
  std::mt19937 shuffle_engine = random_stream(seed, kShuffling);
  // The test loss is measured on a copy, whose oscillator draws leave training's alone.
  std::optional<Network> monitor;
  if (test_loss != nullptr) {
    monitor.emplace(make_network(setup, seed, kMonitorNetwork, network.params()));
  }
  std::vector<std::size_t> order(setup.training_rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<double> output(setup.out());
  std::vector<double> losses;
  for (int epoch = 1; epoch <= setup.epochs; ++epoch) {
    if (options.shuffle) shuffle(order, shuffle_engine);
    double sum = 0.0;
    for (const std::size_t r : order) {
      // train() reports the loss before its last step; with several steps a row is measured
      // before the first, or the loss would show rows already fitted.
      const double before = options.iterations > 1 ? row_loss(network, setup, r, output) : 0.0;
      const double last = network.train(&setup.scaled_inputs[r * setup.in()],
                                        &setup.scaled_targets[r * setup.out()], options.iterations,
                                        options.learning_rate, optimizer_code);
      sum += options.iterations > 1 ? before : last;
    }
    const double loss = sum / static_cast<double>(setup.training_rows());
    if (!std::isfinite(loss)) {
      throw TrainingFailed("training diverged: the loss left the range of numbers in epoch " +
                           std::to_string(epoch) + "; try a smaller --lr");
    }
    losses.push_back(loss);
    if (monitor) {
      monitor->set_params(network.params());
      const std::size_t first = setup.training_rows();
      test_loss->push_back(mean_loss(scaled_predictions(*monitor, setup, first, setup.test_rows()),
                                     setup, first, setup.test_rows()));
    }
    if (!hook(epoch, loss)) break;
  }
  return losses;
}

// What the report and the plot show, in the data's own units.
struct Outcome {
  std::vector<double> training_truth;
  std::vector<double> test_truth;
  std::vector<double> training_predicted;
  std::vector<double> test_predicted;
  double training_loss = 0.0;  ///< in scaled units, as kept_run compares runs
};

// Evaluates `params` on a network made afresh for it: a saved network loaded with the same seed
// is evaluated with the draws it was evaluated with when it was saved, and the kept run gives
// its figures again.
Outcome evaluate(const Setup& setup, std::uint32_t seed, const std::vector<double>& params) {
  Network network = make_network(setup, seed, kEvaluationNetwork, params);
  Outcome outcome;
  outcome.training_truth = rows_of(setup.data.targets, setup.out(), 0, setup.training_rows());
  outcome.test_truth =
      rows_of(setup.data.targets, setup.out(), setup.training_rows(), setup.test_rows());
  const std::vector<double> training = scaled_predictions(network, setup, 0, setup.training_rows());
  outcome.training_loss = mean_loss(training, setup, 0, setup.training_rows());
  outcome.training_predicted = unscaled(training, setup);
  outcome.test_predicted =
      unscaled(scaled_predictions(network, setup, setup.training_rows(), setup.test_rows()), setup);
  // Each epoch's loss is measured before each step, so a last step that overflows shows only
  // here, in the trained network itself.
  if (!all_finite(params) || !all_finite(outcome.training_predicted)) {
    throw TrainingFailed(
        "training diverged: the trained network's weights or outputs are not finite numbers; "
        "try a smaller --lr");
  }
  return outcome;
}

RunResult train_run(const Setup& setup, std::uint32_t seed, bool track_test,
                    const EpochHook& hook) {
  Network network = make_network(setup, seed, kTrainingNetwork, initial_weights(setup, seed));
  RunResult result;
  result.training_loss =
      train_epochs(network, setup, seed, track_test ? &result.test_loss : nullptr, hook);
  result.params = network.params();
  const Outcome outcome = evaluate(setup, seed, result.params);
  result.figures.seed = seed;
  result.figures.training =
      error_figures(outcome.training_predicted, outcome.training_truth, setup.out());
  result.figures.test = error_figures(outcome.test_predicted, outcome.test_truth, setup.out());
  result.figures.training_loss = outcome.training_loss;
  return result;
}

// Every run, each on its own network, on up to --jobs threads. A single run shows its epochs
// as it always has; several show one combined progress.
std::vector<RunResult> train_runs(const Setup& setup, bool track_test) {
  const std::size_t count = setup.runs();
  const ProgressStyle style = progress_style_for(stderr, setup.options.quiet);
  std::vector<RunResult> results(count);
  if (count == 1) {
    Progress progress(style, stderr, setup.epochs);
    try {
      results[0] = train_run(setup, setup.seed(0), track_test, [&](int epoch, double loss) {
        progress.epoch_done(epoch, loss);
        return true;
      });
    } catch (...) {
      progress.finish();
      throw;
    }
    progress.finish();
    return results;
  }
  ParallelRuns parallel(count, thread_count(static_cast<unsigned>(setup.options.jobs), count));
  RunsProgress progress(style, stderr, count, setup.epochs);
  try {
    parallel.run([&](std::size_t index) {
      const std::uint32_t seed = setup.seed(index);
      try {
        results[index] = train_run(setup, seed, track_test, [&](int, double) {
          progress.epoch_done();
          return !parallel.abandoned(index);
        });
      } catch (const TrainingFailed& error) {
        throw TrainingFailed("seed " + std::to_string(seed) + ": " + error.what());
      }
      progress.run_done();
    });
  } catch (...) {
    progress.finish();
    throw;
  }
  progress.finish();
  return results;
}

// The network's line and the naive forecasts' lines, each followed by a line per target when
// there are several.
std::vector<ReportLine> report_lines(const Setup& setup, const Outcome& outcome) {
  const std::size_t out = setup.out();
  std::vector<ReportLine> lines;
  const auto add = [&](const std::string& name, const std::vector<double>& training,
                       const std::vector<double>& test, std::size_t width) {
    lines.push_back({name, error_figures(training, outcome.training_truth, width),
                     error_figures(test, outcome.test_truth, width)});
    if (width < 2) return;
    for (std::size_t k = 0; k < width; ++k) {
      lines.push_back(
          {"  " + setup.data.target_names[k],
           error_figures(column_of(training, width, k), column_of(outcome.training_truth, width, k),
                         1),
           error_figures(column_of(test, width, k), column_of(outcome.test_truth, width, k), 1)});
    }
  };
  add("network", outcome.training_predicted, outcome.test_predicted, out);

  const std::vector<double> means = column_means(outcome.training_truth, out);
  const auto repeat_means = [&](std::size_t rows) {
    std::vector<double> cells;
    for (std::size_t r = 0; r < rows; ++r) cells.insert(cells.end(), means.begin(), means.end());
    return cells;
  };
  add("mean of the training targets", repeat_means(setup.training_rows()),
      repeat_means(setup.test_rows()), out);

  if (setup.data.current_value_input && out == 1) {
    const auto current_values = [&](std::size_t first, std::size_t count) {
      std::vector<double> cells;
      for (std::size_t r = first; r < first + count; ++r) {
        cells.push_back(setup.data.input_row(r)[*setup.data.current_value_input]);
      }
      return cells;
    };
    add("next value = current value", current_values(0, setup.training_rows()),
        current_values(setup.training_rows(), setup.test_rows()), 1);
  }
  return lines;
}

void save_weights(const Setup& setup, const std::vector<double>& params) {
  WeightsFile saved;
  saved.inputs = static_cast<int>(setup.in());
  saved.outputs = static_cast<int>(setup.out());
  saved.layers = setup.layers;
  saved.params = params;
  fold_scaling(saved.params, layout_of(setup), setup.input_scaling, setup.target_scaling);
  std::string text;
  try {
    text = weights_json(saved);
  } catch (const InputError& error) {
    // Not the user's input: the trained network itself cannot be written down.
    throw std::runtime_error("cannot save to " + setup.options.save_path + ": " + error.what());
  }
  write_file_atomically(setup.options.save_path, text);
  std::printf("weights saved to %s (they work on the data's own units)\n",
              setup.options.save_path.c_str());
}

void write_plot(const Setup& setup, const Outcome& outcome, const RunResult& run) {
  const bool test = setup.test_rows() > 0;
  PlotData plot;
  plot.training_loss = run.training_loss;
  plot.test_loss = run.test_loss;
  plot.title = "oscnet-train: " + shortened(setup.data.name, 50);
  plot.target_names = setup.data.target_names;
  plot.rows_label = test ? "test rows" : "training rows";
  plot.truth = test ? outcome.test_truth : outcome.training_truth;
  plot.predicted = test ? outcome.test_predicted : outcome.training_predicted;
  write_file_atomically(setup.options.plot_path, render_svg(plot));
  std::printf("plot written to %s\n", setup.options.plot_path.c_str());
}

// Everything the program reports about the runs: with several, each one's figures first; then
// the full table of the run kept, and its weights and plot.
void report(const Setup& setup, const std::vector<RunResult>& results) {
  std::vector<RunFigures> figures;
  for (const RunResult& result : results) figures.push_back(result.figures);
  if (results.size() > 1) print_runs(stdout, figures, setup.test_rows() > 0);
  const std::size_t kept = kept_run(figures);
  const RunResult& run = results[kept];
  // Evaluated again as in its run, to the same figures: runs keep only their weights.
  const Outcome outcome = evaluate(setup, run.figures.seed, run.params);
  print_report(stdout, report_lines(setup, outcome), setup.test_rows() > 0);
  const Options& options = setup.options;
  // Weights first: a plot is of no use without the network it shows.
  if (!options.save_path.empty() || !options.plot_path.empty()) std::printf("\n");
  if (!options.save_path.empty()) save_weights(setup, run.params);
  if (!options.plot_path.empty()) write_plot(setup, outcome, run);
}

// The setup, naming what was being read when memory ran out.
Setup load(const Options& options) {
  try {
    return prepare(options);
  } catch (const std::bad_alloc&) {
    std::string what = options.data_path.empty() ? "the built-in series" : options.data_path;
    if (!options.load_path.empty()) what += " and " + options.load_path;
    throw OutOfMemory("out of memory reading " + what);
  }
}

int run_program(int argc, const char* const* argv) {
  const Options options = parse_options(argc, argv);
  if (options.show_help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (options.show_version) {
    std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
    return 0;
  }
  // Writing a file may meet a file size limit, which is to fail the write, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  const Setup setup = load(options);
  check_paths(options);
  if (!options.plot_path.empty()) check_writable(options.plot_path, "--plot");
  if (!options.save_path.empty()) check_writable(options.save_path, "--save");
  try {
    check_network(setup);
    if (!options.load_path.empty()) check_loaded_outputs(setup);
    print_header(setup);

    const bool track_test = !options.plot_path.empty() && setup.test_rows() > 0;
    report(setup, train_runs(setup, track_test));
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("out of memory training a network of " + describe_layout(layout_of(setup)));
  }
  return 0;
}

}  // namespace
}  // namespace trainer

int main(int argc, char** argv) {
  try {
    return trainer::run_program(argc, argv);
  } catch (const trainer::InputError& error) {
    std::fprintf(stderr, "oscnet-train: %s\n", error.what());
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "oscnet-train: out of memory\n");
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oscnet-train: %s\n", error.what());
    return 1;
  }
}
