#include "trainer/pipeline/write.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

#include "trainer/counted.h"
#include "trainer/input_error.h"
#include "trainer/json.h"
#include "trainer/pipeline/report.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/shortened.h"
#include "trainer/svg_plot.h"
#include "trainer/text_files.h"
#include "trainer/weights_file.h"

namespace trainer {
namespace {

// True when the two paths name one file, existing or not.
bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  return fs::weakly_canonical(fs::absolute(a), error) ==
         fs::weakly_canonical(fs::absolute(b), error);
}

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
  refuse_clash(options.save_path, "--save", options.predict_path, "--predict");
  for (const auto& [path, option] : inputs) {
    refuse_clash(options.plot_path, "--plot", *path, option);
    refuse_clash(options.output_path, "--output", *path, option);
  }
  refuse_clash(options.plot_path, "--plot", options.predict_path, "--predict");
  refuse_clash(options.output_path, "--output", options.predict_path, "--predict");
  refuse_clash(options.plot_path, "--plot", options.save_path, "--save");
  refuse_clash(options.output_path, "--output", options.save_path, "--save");
  refuse_clash(options.output_path, "--output", options.plot_path, "--plot");
}

void save_weights(std::FILE* out, const RunState& state, const std::vector<double>& params) {
  WeightsFile saved;
  saved.inputs = static_cast<int>(state.in());
  saved.outputs = static_cast<int>(state.out());
  saved.layers = state.layers;
  saved.params = params;
  saved.input_names = state.data.input_names;
  saved.target_names = state.data.target_names;
  saved.class_names = state.data.class_names;
  fold_scaling(saved.params, layout_of(state), state.input_scaling, state.target_scaling);
  std::string text;
  try {
    text = weights_json(saved);
  } catch (const InputError& error) {
    // Not the user's input: the trained network itself cannot be written down.
    throw std::runtime_error("cannot save to " + state.options.save_path + ": " + error.what());
  }
  write_file_atomically(state.options.save_path, text);
  std::fprintf(out, "weights saved to %s (they work on the data's own units)\n",
               state.options.save_path.c_str());
}

void write_plot(std::FILE* out, const RunState& state, const RunResult& run,
                const Outcome& outcome) {
  const bool test = state.test_rows() > 0;
  PlotData plot;
  plot.training_loss = run.training_loss;
  plot.test_loss = run.test_loss;
  plot.validation_loss = run.validation_loss;
  plot.best_epoch = run.best_epoch;
  plot.title = "oscnet-train: " + shortened(state.data.name, 50);
  plot.target_names = state.data.target_names;
  plot.rows_label = test ? "test rows" : "training rows";
  plot.truth = test ? outcome.test_truth : outcome.training_truth;
  plot.predicted = test ? outcome.test_predicted : outcome.training_predicted;
  const Dataset& data = state.data;
  if (data.row_labels.size() == data.rows) {
    const auto first =
        data.row_labels.begin() + static_cast<std::ptrdiff_t>(test ? state.test_start() : 0);
    plot.row_labels.assign(first, first + static_cast<std::ptrdiff_t>(
                                              test ? state.test_rows() : state.training_rows()));
  }
  if (!data.class_names.empty()) {
    plot.class_names = data.class_names;
    plot.confusion = classification_of(state, outcome).confusion;
  }
  write_file_atomically(state.options.plot_path, render_svg(plot));
  std::fprintf(out, "plot written to %s\n", state.options.plot_path.c_str());
}

void write_predictions(std::FILE* out, const RunState& state, const Outcome& outcome) {
  const bool test = state.test_rows() > 0;
  const std::size_t first = test ? state.test_start() : 0;
  const std::size_t rows = test ? state.test_rows() : state.training_rows();
  const PredictionsTable table =
      predictions_table(state.data, state.source, first, rows,
                        test ? outcome.test_predicted : outcome.training_predicted,
                        test ? outcome.test_truth : outcome.training_truth);
  write_file_atomically(state.options.output_path, predictions_csv(table));
  std::fprintf(out, "predictions of %s written to %s\n",
               counted(rows, test ? "test row" : "training row").c_str(),
               state.options.output_path.c_str());
}

}  // namespace

PredictionsTable predictions_table(const Dataset& data, const RowSource& source, std::size_t first,
                                   std::size_t rows, std::vector<double> predicted,
                                   std::vector<double> truth) {
  PredictionsTable table;
  table.rows = rows;
  table.predicted = std::move(predicted);
  table.truth = std::move(truth);
  table.target_names = data.target_names;
  table.class_names = data.class_names;
  table.label_name = source.label_name.empty() ? "class" : source.label_name;
  if (source.table) {
    for (const std::size_t c : source.columns) {
      table.given_names.push_back(source.table->column_names[c]);
    }
    table.given_cell = [&source, first](std::size_t row, std::size_t column) {
      return std::string(source.table->text(source.rows[first + row], source.columns[column]));
    };
  } else {
    table.given_names = data.input_names;
    table.given_cell = [&data, first](std::size_t row, std::size_t column) {
      return format_double(data.input_row(first + row)[column]);
    };
  }
  return table;
}

void check_outputs(const Options& options) {
  check_paths(options);
  if (!options.plot_path.empty()) check_writable(options.plot_path, "--plot");
  if (!options.save_path.empty()) check_writable(options.save_path, "--save");
  if (!options.output_path.empty()) check_writable(options.output_path, "--output");
}

void write_outputs(std::FILE* out, const RunState& state, const RunResult& run,
                   const Outcome& outcome) {
  const Options& options = state.options;
  // Weights first: a plot is of no use without the network it shows.
  if (!options.save_path.empty() || !options.plot_path.empty() || !options.output_path.empty()) {
    std::fprintf(out, "\n");
  }
  if (!options.save_path.empty()) save_weights(out, state, run.params);
  if (!options.plot_path.empty()) write_plot(out, state, run, outcome);
  if (!options.output_path.empty()) write_predictions(out, state, outcome);
}

}  // namespace trainer
