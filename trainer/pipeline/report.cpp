#include "trainer/pipeline/report.h"

#include <string>

#include "oscnet.h"
#include "trainer/counted.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/scale.h"

namespace trainer {
namespace {

std::string describe_network(const RunState& state) {
  std::string text = counted(state.in(), "input");
  for (const HiddenLayer& layer : state.layers) {
    text += " -> " + std::to_string(layer.units) + " " + activation_name(layer.activation);
  }
  text += " -> " + counted(state.out(), "output");
  return text + " (" + std::to_string(layout_of(state).count()) + " weights)";
}

std::string seeds_text(const RunState& state) {
  if (state.runs() == 1) return "seed " + std::to_string(state.seed(0));
  return "seeds " + std::to_string(state.seed(0)) + " to " +
         std::to_string(state.seed(state.runs() - 1));
}

std::string rows_text(const RunState& state) {
  const std::size_t validation = state.validation_rows();
  const std::size_t test = state.test_rows();
  std::string text = std::to_string(state.training_rows()) + " for training";
  if (validation == 0 && test == 0) return text + ", none held out for testing";
  if (validation > 0) text += ", " + std::to_string(validation) + " for validation";
  text += test > 0 ? ", " + std::to_string(test) + " for testing" : ", none for testing";
  if (state.split.choice == SplitChoice::tail) return text + " (the last ones, in order)";
  return text + " (drawn at random, --split random with seed " +
         std::to_string(state.options.seed) + ")";
}

std::string loss_text(double loss) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", loss);
  return text;
}

const char* scaling_text(ScaleChoice choice) {
  switch (choice) {
    case ScaleChoice::minmax:
      return "every column to [-1, 1] on the training rows";
    case ScaleChoice::standard:
      return "every column to mean 0 and deviation 1 on the training rows";
    case ScaleChoice::none:
      break;
  }
  return "none (--scale none)";
}

// Column `column` of row-by-row `cells` of `width` columns.
std::vector<double> column_of(const std::vector<double>& cells, std::size_t width,
                              std::size_t column) {
  std::vector<double> values;
  for (std::size_t i = column; i < cells.size(); i += width) values.push_back(cells[i]);
  return values;
}

}  // namespace

void print_header(std::FILE* out, const RunState& state) {
  const Options& options = state.options;
  std::fprintf(out, "oscnet-train %s\n", OSCNET_VERSION_STRING);
  std::fprintf(out, "data      %s\n", state.data.description.c_str());
  std::fprintf(out, "rows      %s\n", rows_text(state).c_str());
  std::fprintf(out, "network   %s%s\n", describe_network(state).c_str(),
               options.load_path.empty() ? "" : (", loaded from " + options.load_path).c_str());
  const bool validation = state.validation_rows() > 0;
  if (state.epochs == 0) {
    std::fprintf(out, "training  none: the network is evaluated as it is, %s\n",
                 seeds_text(state).c_str());
  } else {
    std::fprintf(out, "training  %s, learning rate %g, %s%s of %s per row, %s, %s\n",
                 options.optimizer == OptimizerChoice::adagrad ? "Adagrad" : "gradient descent",
                 options.learning_rate, validation ? "up to " : "",
                 counted(static_cast<std::size_t>(state.epochs), "epoch").c_str(),
                 counted(static_cast<std::size_t>(options.iterations), "step").c_str(),
                 options.shuffle ? "shuffled" : "in order", seeds_text(state).c_str());
    if (validation) {
      const int patience = patience_for(options);
      if (patience > 0) {
        std::fprintf(out,
                     "stopping  after %s without a better validation loss; the best epoch's "
                     "weights are kept\n",
                     counted(static_cast<std::size_t>(patience), "epoch").c_str());
      } else {
        std::fprintf(out,
                     "stopping  never early; the weights of the epoch with the best validation "
                     "loss are kept\n");
      }
    }
  }
  std::fprintf(out, "scaling   %s\n", scaling_text(scale_choice_for(options)));
  std::fflush(out);
}

void print_warnings(std::FILE* out, const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) {
    std::fprintf(out, "oscnet-train: warning: %s\n", warning.c_str());
  }
  std::fflush(out);
}

std::size_t report_runs(std::FILE* out, const RunState& state,
                        const std::vector<RunResult>& results) {
  std::vector<RunFigures> figures;
  for (const RunResult& result : results) figures.push_back(result.figures);
  if (results.size() > 1) print_runs(out, figures, state.test_rows() > 0);
  const std::size_t kept = kept_run(figures);
  const RunResult& run = results[kept];
  if (run.best_epoch > 0) {
    const auto ran = static_cast<int>(run.training_loss.size());
    std::fprintf(out, "%sepochs    ", results.size() > 1 ? "" : "\n");
    if (ran < state.epochs) {
      std::fprintf(out, "stopped after epoch %d of %d", ran, state.epochs);
    } else {
      std::fprintf(out, "all %d run", ran);
    }
    std::fprintf(out, "; best validation loss %s at epoch %d, whose weights are kept\n",
                 loss_text(run.best_validation_loss).c_str(), run.best_epoch);
  }
  return kept;
}

std::vector<ReportLine> report_lines(const RunState& state, const Outcome& outcome) {
  const std::size_t out = state.out();
  std::vector<ReportLine> lines;
  const auto add = [&](const std::string& name, const std::vector<double>& training,
                       const std::vector<double>& test, std::size_t width) {
    lines.push_back({name, error_figures(training, outcome.training_truth, width),
                     error_figures(test, outcome.test_truth, width)});
    if (width < 2) return;
    for (std::size_t k = 0; k < width; ++k) {
      lines.push_back(
          {"  " + state.data.target_names[k],
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
  add("mean of the training targets", repeat_means(state.training_rows()),
      repeat_means(state.test_rows()), out);

  if (!state.data.current_values.empty()) {
    const auto current_values = [&](std::size_t first, std::size_t count) {
      return std::vector<double>(
          state.data.current_values.begin() + static_cast<std::ptrdiff_t>(first * out),
          state.data.current_values.begin() + static_cast<std::ptrdiff_t>((first + count) * out));
    };
    add("next value = current value", current_values(0, state.training_rows()),
        current_values(state.test_start(), state.test_rows()), out);
  }
  return lines;
}

ClassificationFigures classification_of(const RunState& state, const Outcome& outcome) {
  return classification_figures(state.out(), outcome.training_predicted, outcome.training_truth,
                                outcome.test_predicted, outcome.test_truth);
}

void report_outcome(std::FILE* out, const RunState& state, const Outcome& outcome) {
  const bool classes = !state.data.class_names.empty();
  // Errors of outputs against 0 and 1 say little about classes: how many rows are classed
  // right, and where the others go, says it.
  if (classes) {
    print_classification_report(out, classification_of(state, outcome), state.data.class_names,
                                state.test_rows() > 0);
  } else {
    print_report(out, report_lines(state, outcome), state.test_rows() > 0);
  }
  if (!outcome.held_out_rows.empty() && !(outcome.held_out_loss < outcome.mean_held_out_loss)) {
    std::fprintf(out,
                 "\nOn the %s rows the network does no better than always predicting the mean of "
                 "the training targets%s:\nit has learned nothing of use from the inputs. Try a "
                 "smaller --lr, other --layers or --scale.\n",
                 outcome.held_out_rows.c_str(),
                 classes ? " (each class's share of the training rows)" : "");
  }
}

}  // namespace trainer
