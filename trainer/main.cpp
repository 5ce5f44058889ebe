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

Dataset load_data(const Options& options) {
  if (options.data_path.empty()) {
    if (options.targets != 1) {
      throw InputError("--targets applies to --data files; the built-in series has one target");
    }
    return mackey_glass_dataset();
  }
  const Table table = read_csv(options.data_path);
  const std::string description = options.data_path + " (" + std::to_string(table.rows()) +
                                  " rows, " + std::to_string(table.columns()) + " columns" +
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

// An index below `bound`, every one equally likely, the same on every platform.
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

std::string describe_network(const Dataset& data, const std::vector<LayerSpec>& layers,
                             std::size_t weights) {
  std::string text =
      std::to_string(data.input_width()) + (data.input_width() == 1 ? " input" : " inputs");
  for (const LayerSpec& layer : layers) {
    text += " -> " + std::to_string(layer.units) + " " + activation_name(layer.activation);
  }
  text += " -> " + std::to_string(data.target_width()) +
          (data.target_width() == 1 ? " output" : " outputs");
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
                     std::to_string(test_rows) + " for testing");
  }
  if (test_fraction > 0.0 && test_rows == 0) {
    throw InputError(data.description + ": too few rows to hold out a fraction of " +
                     std::to_string(test_fraction) +
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

// Everything a run needs once the options, data and weights file have been checked.
struct Run {
  Options options;
  Dataset data;
  std::vector<LayerSpec> layers;
  Split split{};
  ColumnScaling input_scaling;
  ColumnScaling target_scaling;
  std::vector<double> scaled_inputs;
  std::vector<double> scaled_targets;
  int epochs = 0;
};

// The network's predictions, in the data's units, for rows [first, first + count).
std::vector<double> predictions(const Network& network, const Run& run, std::size_t first,
                                std::size_t count) {
  const std::size_t in = run.data.input_width();
  const std::size_t out = run.data.target_width();
  std::vector<double> predicted(count * out);
  for (std::size_t r = 0; r < count; ++r) {
    network.predict(&run.scaled_inputs[(first + r) * in], &predicted[r * out]);
    run.target_scaling.invert_row(&predicted[r * out]);
  }
  return predicted;
}

// Mean over rows [first, first + count) of the loss the library's train reports: the sum of
// squared errors over the outputs, in the scaled units the network works in.
double mean_loss(const Network& network, const Run& run, std::size_t first, std::size_t count) {
  const std::size_t in = run.data.input_width();
  const std::size_t out = run.data.target_width();
  std::vector<double> output(out);
  double sum = 0.0;
  for (std::size_t r = first; r < first + count; ++r) {
    network.predict(&run.scaled_inputs[r * in], output.data());
    for (std::size_t k = 0; k < out; ++k) {
      const double error = output[k] - run.scaled_targets[r * out + k];
      sum += error * error;
    }
  }
  return sum / static_cast<double>(count);
}

class TrainingFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int run_program(int argc, const char* const* argv) {
  Run run;
  run.options = parse_options(argc, argv);
  const Options& options = run.options;
  if (options.show_help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (options.show_version) {
    std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
    return 0;
  }
  if (!options.plot_path.empty()) check_writable(options.plot_path, "--plot");
  if (!options.save_path.empty()) check_writable(options.save_path, "--save");

  run.data = load_data(options);
  Dataset& data = run.data;
  WeightsFile loaded;
  run.layers = options.layers.empty() ? default_layers() : options.layers;
  if (!options.load_path.empty()) {
    loaded = read_weights_file(options.load_path);
    if (static_cast<std::size_t>(loaded.inputs) != data.input_width() ||
        static_cast<std::size_t>(loaded.outputs) != data.target_width()) {
      throw InputError(options.load_path + " holds a network of " + std::to_string(loaded.inputs) +
                       " inputs and " + std::to_string(loaded.outputs) +
                       " outputs, but the data has " + std::to_string(data.input_width()) +
                       " input and " + std::to_string(data.target_width()) + " target columns");
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

  const std::size_t in = data.input_width();
  const std::size_t out = data.target_width();
  const std::size_t training_rows = run.split.training_rows;
  run.input_scaling = options.scale ? ColumnScaling::to_unit_range(data.inputs, in, training_rows)
                                    : ColumnScaling::identity(in);
  run.target_scaling = options.scale
                           ? ColumnScaling::to_unit_range(data.targets, out, training_rows)
                           : ColumnScaling::identity(out);
  run.scaled_inputs = data.inputs;
  run.input_scaling.apply(run.scaled_inputs);
  run.scaled_targets = data.targets;
  run.target_scaling.apply(run.scaled_targets);

  Network network(static_cast<int>(in), static_cast<int>(out), run.layers, run.scaled_inputs.data(),
                  run.scaled_targets.data());
  // Separate streams, so that drawing for one purpose never shifts another: the plot's extra
  // evaluations, for one, must not change what training draws.
  std::mt19937 weight_engine = random_stream(options.seed, 0);
  std::mt19937 shuffle_engine = random_stream(options.seed, 1);
  std::mt19937 oscillator_seeds = random_stream(options.seed, 2);
  std::vector<double> params(network.layout().count());
  if (!options.load_path.empty()) {
    params = loaded.params;
    unfold_scaling(params, network.layout(), run.input_scaling, run.target_scaling);
  } else {
    std::normal_distribution<double> draw(0.0, kInitialWeightDeviation);
    for (double& value : params) value = draw(weight_engine);
  }
  network.set_params(params);

  const int optimizer_code = options.optimizer == OptimizerChoice::adagrad ? 1 : 0;
  std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
  std::printf("data      %s\n", data.description.c_str());
  std::printf("rows      %zu for training, %zu for testing (the last ones, in order)\n",
              training_rows, run.split.test_rows);
  std::printf("network   %s%s\n", describe_network(data, run.layers, params.size()).c_str(),
              options.load_path.empty() ? "" : (", loaded from " + options.load_path).c_str());
  std::printf("training  %s, learning rate %g, %d epoch%s of %d step%s per row%s, seed %u\n",
              optimizer_code == 1 ? "Adagrad" : "gradient descent", options.learning_rate,
              run.epochs, run.epochs == 1 ? "" : "s", options.iterations,
              options.iterations == 1 ? "" : "s", options.shuffle ? ", shuffled" : ", in order",
              static_cast<unsigned>(options.seed));
  std::printf("scaling   %s\n",
              options.scale ? "every column to [-1, 1] on the training rows" : "none (--no-scale)");
  std::fflush(stdout);

  PlotData plot;
  std::vector<std::size_t> order(training_rows);
  std::iota(order.begin(), order.end(), std::size_t{0});
  Progress progress(progress_style_for(stderr, options.quiet), stderr, run.epochs);
  for (int epoch = 1; epoch <= run.epochs; ++epoch) {
    if (options.shuffle) shuffle(order, shuffle_engine);
    // The oscillator activation draws its samples with the C library's rand().
    std::srand(oscillator_seeds());
    double sum = 0.0;
    for (const std::size_t r : order) {
      sum += network.train(&run.scaled_inputs[r * in], &run.scaled_targets[r * out],
                           options.iterations, options.learning_rate, optimizer_code);
    }
    const double loss = sum / static_cast<double>(training_rows);
    if (!std::isfinite(loss)) {
      progress.finish();
      throw TrainingFailed("training diverged: the loss left the range of numbers in epoch " +
                           std::to_string(epoch) + "; try a smaller --lr");
    }
    plot.training_loss.push_back(loss);
    if (!options.plot_path.empty() && run.split.test_rows > 0) {
      plot.test_loss.push_back(mean_loss(network, run, training_rows, run.split.test_rows));
    }
    progress.epoch_done(epoch, loss);
  }
  progress.finish();

  // Errors in the data's own units, next to the naive forecasts.
  std::srand(oscillator_seeds());
  const std::vector<double> training_truth = rows_of(data.targets, out, 0, training_rows);
  const std::vector<double> test_truth =
      rows_of(data.targets, out, training_rows, run.split.test_rows);
  const std::vector<double> training_predicted = predictions(network, run, 0, training_rows);
  const std::vector<double> test_predicted =
      predictions(network, run, training_rows, run.split.test_rows);
  // Each epoch's loss is measured before each step, so a last step that overflows shows only
  // here, in the trained network itself.
  const auto finite = [](double value) { return std::isfinite(value); };
  const std::vector<double> trained = network.params();
  if (!std::all_of(trained.begin(), trained.end(), finite) ||
      !std::all_of(training_predicted.begin(), training_predicted.end(), finite)) {
    throw TrainingFailed(
        "training diverged: the trained network's weights or outputs are not finite numbers; "
        "try a smaller --lr");
  }
  std::vector<ReportLine> lines;
  lines.push_back({"network", error_figures(training_predicted, training_truth, out),
                   error_figures(test_predicted, test_truth, out)});

  const std::vector<double> means = column_means(training_truth, out);
  const auto repeat_means = [&](std::size_t rows) {
    std::vector<double> cells;
    for (std::size_t r = 0; r < rows; ++r) cells.insert(cells.end(), means.begin(), means.end());
    return cells;
  };
  lines.push_back({"mean of the training targets",
                   error_figures(repeat_means(training_rows), training_truth, out),
                   error_figures(repeat_means(run.split.test_rows), test_truth, out)});
  if (data.current_value_input && out == 1) {
    const auto current_values = [&](std::size_t first, std::size_t count) {
      std::vector<double> cells;
      for (std::size_t r = first; r < first + count; ++r) {
        cells.push_back(data.input_row(r)[*data.current_value_input]);
      }
      return cells;
    };
    lines.push_back(
        {"next value = current value",
         error_figures(current_values(0, training_rows), training_truth, out),
         error_figures(current_values(training_rows, run.split.test_rows), test_truth, out)});
  }
  print_report(stdout, lines, run.split.test_rows > 0);

  if (!options.plot_path.empty()) {
    plot.title = "oscnet-train: " + data.name;
    plot.target_names = data.target_names;
    const bool test = run.split.test_rows > 0;
    plot.rows_label = test ? "test rows" : "training rows";
    plot.truth = test ? test_truth : training_truth;
    plot.predicted = test ? test_predicted : training_predicted;
    write_file_atomically(options.plot_path, render_svg(plot));
    std::printf("\nplot written to %s\n", options.plot_path.c_str());
  }
  if (!options.save_path.empty()) {
    WeightsFile saved;
    saved.inputs = static_cast<int>(in);
    saved.outputs = static_cast<int>(out);
    saved.layers = run.layers;
    saved.params = network.params();
    fold_scaling(saved.params, network.layout(), run.input_scaling, run.target_scaling);
    std::string text;
    try {
      text = weights_json(saved);
    } catch (const InputError& error) {
      // Not the user's input: the trained network itself cannot be written down.
      throw std::runtime_error(std::string("cannot save to ") + options.save_path + ": " +
                               error.what());
    }
    write_file_atomically(options.save_path, text);
    std::printf("weights saved to %s (they work on the data's own units)\n",
                options.save_path.c_str());
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
