// oscnet-train: trains an oscnet network on a CSV file, or on the Mackey-Glass chaotic series
// when given no data, through the library's exported functions, and reports how well it
// learned next to naive forecasts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "oscnet.h"
#include "trainer/csv_reader.h"
#include "trainer/dataset.h"
#include "trainer/input_error.h"
#include "trainer/mackey_glass.h"
#include "trainer/metrics.h"
#include "trainer/network.h"
#include "trainer/options.h"
#include "trainer/progress.h"
#include "trainer/report.h"
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
// The library draws its initial weights the same way, from a clock-seeded generator; drawing
// them here makes a run repeatable.
constexpr double kInitialWeightDeviation = 0.01;

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
  const Table table = read_csv(options.data_path);
  const std::string description = options.data_path + " (" + counted(table.rows(), "row") + ", " +
                                  counted(table.columns(), "column") +
                                  (table.has_header ? ", with a header" : "") + ")";
  const std::string name = std::filesystem::path(options.data_path).filename().string();
  return split_columns(name, description, table.column_names, table.cells, table.columns(),
                       static_cast<std::size_t>(options.targets));
}

// One of several independent generators made from the user's seed.
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
  const auto refuse_clash = [](const std::string& output, const char* output_option,
                               const std::string& other, const char* other_option) {
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

// Everything a run needs once the options, data and weights file have been checked.
struct Run {
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
};

Run prepare(const Options& options) {
  Run run;
  run.options = options;
  run.data = load_data(options);
  const Dataset& data = run.data;
  run.layers = options.layers.empty() ? default_layers() : options.layers;
  if (!options.load_path.empty()) {
    run.loaded = read_weights_file(options.load_path);
    const WeightsFile& loaded = run.loaded;
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
    run.layers = loaded.layers;
  }
  run.epochs = options.epochs.value_or(options.load_path.empty() ? kDefaultEpochs : 0);
  run.split =
      split_rows(data, options.test_fraction.value_or(
                           options.data_path.empty() ? kSeriesTestFraction : kFileTestFraction));

  const std::size_t rows = run.training_rows();
  run.input_scaling = options.scale ? ColumnScaling::to_unit_range(data.inputs, run.in(), rows)
                                    : ColumnScaling::identity(run.in());
  run.target_scaling = options.scale ? ColumnScaling::to_unit_range(data.targets, run.out(), rows)
                                     : ColumnScaling::identity(run.out());
  run.scaled_inputs = data.inputs;
  run.input_scaling.apply(run.scaled_inputs);
  run.scaled_targets = data.targets;
  run.target_scaling.apply(run.scaled_targets);
  return run;
}

// The first weights: the loaded ones, or normal draws as the library makes them.
std::vector<double> initial_weights(const Run& run, const Network& network, std::mt19937& engine) {
  std::vector<double> params(network.layout().count());
  if (!run.options.load_path.empty()) {
    params = run.loaded.params;
    unfold_scaling(params, network.layout(), run.input_scaling, run.target_scaling);
    if (!all_finite(params)) {
      throw InputError(run.options.load_path +
                       ": its weights are too large to work on this data's scale");
    }
  } else {
    std::normal_distribution<double> draw(0.0, kInitialWeightDeviation);
    for (double& value : params) value = draw(engine);
  }
  return params;
}

// The network's predictions, in the data's units, for rows [first, first + count).
std::vector<double> predictions(const Network& network, const Run& run, std::size_t first,
                                std::size_t count) {
  std::vector<double> predicted(count * run.out());
  for (std::size_t r = 0; r < count; ++r) {
    network.predict(&run.scaled_inputs[(first + r) * run.in()], &predicted[r * run.out()]);
    run.target_scaling.invert_row(&predicted[r * run.out()]);
  }
  return predicted;
}

// Weights that are finite numbers can still be too large for the data: refused before any
// training, so that the failure is not laid at the learning rate's door.
void check_loaded_outputs(const Network& network, const Run& run) {
  std::srand(random_stream(run.options.seed, 3)());
  const std::vector<double> outputs = predictions(network, run, 0, run.training_rows());
  if (!all_finite(outputs)) {
    throw InputError(run.options.load_path +
                     ": its network's outputs on this data are beyond the range of numbers");
  }
}

void print_header(const Run& run, std::size_t weights) {
  const Options& options = run.options;
  std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
  std::printf("data      %s\n", run.data.description.c_str());
  if (run.test_rows() > 0) {
    std::printf("rows      %zu for training, %zu for testing (the last ones, in order)\n",
                run.training_rows(), run.test_rows());
  } else {
    std::printf("rows      %zu for training, none held out for testing\n", run.training_rows());
  }
  std::printf("network   %s%s\n", describe_network(run.data, run.layers, weights).c_str(),
              options.load_path.empty() ? "" : (", loaded from " + options.load_path).c_str());
  if (run.epochs == 0) {
    std::printf("training  none: the network is evaluated as it is, seed %u\n",
                static_cast<unsigned>(options.seed));
  } else {
    std::printf("training  %s, learning rate %g, %s of %s per row, %s, seed %u\n",
                options.optimizer == OptimizerChoice::adagrad ? "Adagrad" : "gradient descent",
                options.learning_rate,
                counted(static_cast<std::size_t>(run.epochs), "epoch").c_str(),
                counted(static_cast<std::size_t>(options.iterations), "step").c_str(),
                options.shuffle ? "shuffled" : "in order", static_cast<unsigned>(options.seed));
  }
  std::printf("scaling   %s\n",
              options.scale ? "every column to [-1, 1] on the training rows" : "none (--no-scale)");
  std::fflush(stdout);
}

// The loss train() reports for row r, measured now: the squared error summed over the outputs,
// in the scaled units the network works in.
double row_loss(const Network& network, const Run& run, std::size_t r,
                std::vector<double>& output) {
  network.predict(&run.scaled_inputs[r * run.in()], output.data());
  double sum = 0.0;
  for (std::size_t k = 0; k < run.out(); ++k) {
    const double error = output[k] - run.scaled_targets[r * run.out() + k];
    sum += error * error;
  }
  return sum;
}

double mean_loss(const Network& network, const Run& run, std::size_t first, std::size_t count) {
  std::vector<double> output(run.out());
  double sum = 0.0;
  for (std::size_t r = first; r < first + count; ++r) sum += row_loss(network, run, r, output);
  return sum / static_cast<double>(count);
}

class TrainingFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs the epochs; returns each epoch's mean loss over the training rows, each row's loss
// measured before its first step. `test_loss` gets the loss on the test rows after each epoch
// when it is not null.
std::vector<double> train_epochs(Network& network, const Run& run, std::vector<double>* test_loss) {
  const Options& options = run.options;
  const int optimizer_code = options.optimizer == OptimizerChoice::adagrad ? 1 : 0;
  // Separate streams, so that drawing for one purpose never shifts another: the plot's extra
  // evaluations, for one, must not change what training draws.
  std::mt19937 shuffle_engine = random_stream(options.seed, 1);
  std::mt19937 oscillator_seeds = random_stream(options.seed, 2);
  std::vector<std::size_t> order(run.training_rows());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<double> output(run.out());
  std::vector<double> losses;
  Progress progress(progress_style_for(stderr, options.quiet), stderr, run.epochs);
  for (int epoch = 1; epoch <= run.epochs; ++epoch) {
    if (options.shuffle) shuffle(order, shuffle_engine);
    // The oscillator activation draws its samples with the C library's rand().
    std::srand(oscillator_seeds());
    double sum = 0.0;
    for (const std::size_t r : order) {
      // train() reports the loss before its last step; with several steps a row is measured
      // before the first, or the loss would show rows already fitted.
      const double before = options.iterations > 1 ? row_loss(network, run, r, output) : 0.0;
      const double last =
          network.train(&run.scaled_inputs[r * run.in()], &run.scaled_targets[r * run.out()],
                        options.iterations, options.learning_rate, optimizer_code);
      sum += options.iterations > 1 ? before : last;
    }
    const double loss = sum / static_cast<double>(run.training_rows());
    if (!std::isfinite(loss)) {
      progress.finish();
      throw TrainingFailed("training diverged: the loss left the range of numbers in epoch " +
                           std::to_string(epoch) + "; try a smaller --lr");
    }
    losses.push_back(loss);
    if (test_loss != nullptr) {
      test_loss->push_back(mean_loss(network, run, run.training_rows(), run.test_rows()));
    }
    progress.epoch_done(epoch, loss);
  }
  progress.finish();
  return losses;
}

// What the report and the plot show, in the data's own units.
struct Outcome {
  std::vector<double> training_truth;
  std::vector<double> test_truth;
  std::vector<double> training_predicted;
  std::vector<double> test_predicted;
};

Outcome evaluate(const Network& network, const Run& run) {
  // Its own stream, so that a loaded network is evaluated with the draws it was evaluated with
  // when it was saved.
  std::srand(random_stream(run.options.seed, 3)());
  Outcome outcome;
  outcome.training_truth = rows_of(run.data.targets, run.out(), 0, run.training_rows());
  outcome.test_truth = rows_of(run.data.targets, run.out(), run.training_rows(), run.test_rows());
  outcome.training_predicted = predictions(network, run, 0, run.training_rows());
  outcome.test_predicted = predictions(network, run, run.training_rows(), run.test_rows());
  // Each epoch's loss is measured before each step, so a last step that overflows shows only
  // here, in the trained network itself.
  const std::vector<double> trained = network.params();
  if (!all_finite(trained) || !all_finite(outcome.training_predicted)) {
    throw TrainingFailed(
        "training diverged: the trained network's weights or outputs are not finite numbers; "
        "try a smaller --lr");
  }
  return outcome;
}

// The network's line and the naive forecasts' lines, each followed by a line per target when
// there are several.
std::vector<ReportLine> report_lines(const Run& run, const Outcome& outcome) {
  const std::size_t out = run.out();
  std::vector<ReportLine> lines;
  const auto add = [&](const std::string& name, const std::vector<double>& training,
                       const std::vector<double>& test, std::size_t width) {
    lines.push_back({name, error_figures(training, outcome.training_truth, width),
                     error_figures(test, outcome.test_truth, width)});
    if (width < 2) return;
    for (std::size_t k = 0; k < width; ++k) {
      lines.push_back(
          {"  " + run.data.target_names[k],
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
  add("mean of the training targets", repeat_means(run.training_rows()),
      repeat_means(run.test_rows()), out);

  if (run.data.current_value_input && out == 1) {
    const auto current_values = [&](std::size_t first, std::size_t count) {
      std::vector<double> cells;
      for (std::size_t r = first; r < first + count; ++r) {
        cells.push_back(run.data.input_row(r)[*run.data.current_value_input]);
      }
      return cells;
    };
    add("next value = current value", current_values(0, run.training_rows()),
        current_values(run.training_rows(), run.test_rows()), 1);
  }
  return lines;
}

void save_weights(const Run& run, const Network& network) {
  WeightsFile saved;
  saved.inputs = static_cast<int>(run.in());
  saved.outputs = static_cast<int>(run.out());
  saved.layers = run.layers;
  saved.params = network.params();
  fold_scaling(saved.params, network.layout(), run.input_scaling, run.target_scaling);
  std::string text;
  try {
    text = weights_json(saved);
  } catch (const InputError& error) {
    // Not the user's input: the trained network itself cannot be written down.
    throw std::runtime_error("cannot save to " + run.options.save_path + ": " + error.what());
  }
  write_file_atomically(run.options.save_path, text);
  std::printf("weights saved to %s (they work on the data's own units)\n",
              run.options.save_path.c_str());
}

void write_plot(const Run& run, const Outcome& outcome, PlotData plot) {
  const bool test = run.test_rows() > 0;
  plot.title = "oscnet-train: " + shortened(run.data.name, 50);
  plot.target_names = run.data.target_names;
  plot.rows_label = test ? "test rows" : "training rows";
  plot.truth = test ? outcome.test_truth : outcome.training_truth;
  plot.predicted = test ? outcome.test_predicted : outcome.training_predicted;
  write_file_atomically(run.options.plot_path, render_svg(plot));
  std::printf("plot written to %s\n", run.options.plot_path.c_str());
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
  const Run run = prepare(options);
  check_paths(options);
  if (!options.plot_path.empty()) check_writable(options.plot_path, "--plot");
  if (!options.save_path.empty()) check_writable(options.save_path, "--save");

  Network network(static_cast<int>(run.in()), static_cast<int>(run.out()), run.layers,
                  run.scaled_inputs.data(), run.scaled_targets.data());
  std::mt19937 weight_engine = random_stream(options.seed, 0);
  network.set_params(initial_weights(run, network, weight_engine));
  if (!options.load_path.empty()) check_loaded_outputs(network, run);
  print_header(run, network.layout().count());

  const bool plotting = !options.plot_path.empty();
  PlotData plot;
  plot.training_loss =
      train_epochs(network, run, plotting && run.test_rows() > 0 ? &plot.test_loss : nullptr);
  const Outcome outcome = evaluate(network, run);
  print_report(stdout, report_lines(run, outcome), run.test_rows() > 0);
  // Weights first: a plot is of no use without the network it shows.
  if (!options.save_path.empty() || plotting) std::printf("\n");
  if (!options.save_path.empty()) save_weights(run, network);
  if (plotting) write_plot(run, outcome, std::move(plot));
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
