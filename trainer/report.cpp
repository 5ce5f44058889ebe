#include "trainer/report.h"

#include <algorithm>
#include <cmath>

#include "trainer/shortened.h"

namespace trainer {
namespace {

std::string figure(double value) {
  if (std::isnan(value)) return "n/a";
  if (std::isinf(value)) return "inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// `text` in `width` columns: padded, or shortened.
std::string fitted(const std::string& text, std::size_t width) {
  const std::string out = shortened(text, width);
  return out + std::string(width - display_width(out), ' ');
}

// Column headings: the row sets, then RMSE and NRMSE under each.
void print_headings(std::FILE* out, const std::string& title, bool has_test_rows) {
  if (has_test_rows) {
    std::fprintf(out, "%-30s %-21s %s\n", title.c_str(), "training rows", "test rows");
  } else {
    std::fprintf(out, "%-30s %s\n", title.c_str(), "training rows");
  }
  std::fprintf(out, "%-30s %s\n", "",
               has_test_rows ? "RMSE       NRMSE      RMSE       NRMSE" : "RMSE       NRMSE");
}

// A name, then RMSE and NRMSE on the training rows and, if any, on the test rows.
void print_figures(std::FILE* out, const std::string& name, const ErrorFigures& training,
                   const ErrorFigures& test, bool has_test_rows) {
  std::vector<std::string> cells = {figure(training.rmse), figure(training.nrmse)};
  if (has_test_rows) {
    cells.push_back(figure(test.rmse));
    cells.push_back(figure(test.nrmse));
  }
  std::string text = fitted(name, 30);
  for (const std::string& cell : cells) text += ' ' + fitted(cell, 10);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::fprintf(out, "%s\n", text.c_str());
}

// "0.9737 (111/114)".
std::string accuracy_cell(const Accuracy& accuracy) {
  if (accuracy.rows == 0) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, "%.4f (%zu/%zu)", accuracy.share(), accuracy.correct,
                accuracy.rows);
  return text;
}

// Right-aligned in `width` columns.
std::string right_aligned(const std::string& text, std::size_t width) {
  const std::size_t shown = display_width(text);
  return std::string(width > shown ? width - shown : 0, ' ') + text;
}

constexpr std::size_t kClassNameWidth = 12;  // in the confusion matrix

void print_confusion(std::FILE* out, const ConfusionMatrix& matrix,
                     const std::vector<std::string>& class_names, const char* rows_name) {
  std::vector<std::string> names;
  std::size_t name_width = 0;
  for (const std::string& name : class_names) {
    names.push_back(shortened(name, kClassNameWidth));
    name_width = std::max(name_width, display_width(names.back()));
  }
  std::size_t cell_width = name_width;
  for (const auto& row : matrix) {
    for (const std::size_t count : row) {
      cell_width = std::max(cell_width, std::to_string(count).size());
    }
  }
  std::fprintf(out,
               "\nConfusion matrix of the %s rows: a row per true class, a column per\n"
               "predicted class\n",
               rows_name);
  std::string line = std::string(name_width, ' ');
  for (const std::string& name : names) line += "  " + right_aligned(name, cell_width);
  std::fprintf(out, "%s\n", line.c_str());
  for (std::size_t t = 0; t < matrix.size(); ++t) {
    line = names[t] + std::string(name_width - display_width(names[t]), ' ');
    for (const std::size_t count : matrix[t]) {
      line += "  " + right_aligned(std::to_string(count), cell_width);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
}

}  // namespace

void print_classification_report(std::FILE* out, const ClassificationFigures& figures,
                                 const std::vector<std::string>& class_names, bool has_test_rows) {
  std::fputc('\n', out);
  if (has_test_rows) {
    std::fprintf(out, "%-30s %-21s %s\n", "", "training rows", "test rows");
    std::fprintf(out, "%-30s %-21s %s\n", "", "accuracy", "accuracy");
  } else {
    std::fprintf(out, "%-30s %s\n%-30s %s\n", "", "training rows", "", "accuracy");
  }
  const std::string majority_name = class_names.at(figures.majority);
  const auto print_line = [&](const std::string& name, const Accuracy& training,
                              const Accuracy& test) {
    std::string text = fitted(name, 30) + ' ' + accuracy_cell(training);
    if (has_test_rows) {
      text += std::string(display_width(text) < 53 ? 53 - display_width(text) : 1, ' ');
      text += accuracy_cell(test);
    }
    std::fprintf(out, "%s\n", text.c_str());
  };
  print_line("network", figures.network_training, figures.network_test);
  // The name fills what the line's 30 columns leave.
  print_line("majority class (" + shortened(majority_name, 30 - 17) + ")",
             figures.majority_training, figures.majority_test);

  const Accuracy& network = has_test_rows ? figures.network_test : figures.network_training;
  const Accuracy& majority = has_test_rows ? figures.majority_test : figures.majority_training;
  if (network.correct <= majority.correct) {
    std::fprintf(out, "\nThe network does no better on the %s rows than always predicting '%s'.\n",
                 has_test_rows ? "test" : "training", shortened(majority_name, 40).c_str());
  }
  if (figures.confusion.empty()) {
    std::fprintf(out, "\nNo confusion matrix: %zu classes are more than %zu to show.\n",
                 class_names.size(), kMostClassesInMatrix);
  } else {
    print_confusion(out, figures.confusion, class_names, has_test_rows ? "test" : "training");
  }
}

void print_runs(std::FILE* out, const std::vector<RunFigures>& runs, bool has_test_rows) {
  std::fputc('\n', out);
  print_headings(out, "runs", has_test_rows);
  for (const RunFigures& run : runs) {
    print_figures(out, "seed " + std::to_string(run.seed), run.training, run.test, has_test_rows);
  }
  const RunSpread spread = spread_of(runs);
  print_figures(out, "mean", spread.training_mean, spread.test_mean, has_test_rows);
  print_figures(out, "standard deviation", spread.training_deviation, spread.test_deviation,
                has_test_rows);
  const RunFigures& kept = runs[kept_run(runs)];
  const bool validation = !std::isnan(kept.validation_loss);
  std::fprintf(out, "\nkept      seed %u: the lowest loss on the %s rows, %s\n",
               static_cast<unsigned>(kept.seed), validation ? "validation" : "training",
               figure(validation ? kept.validation_loss : kept.training_loss).c_str());
}

void print_report(std::FILE* out, const std::vector<ReportLine>& lines, bool has_test_rows) {
  std::fputc('\n', out);
  print_headings(out, "", has_test_rows);
  for (const ReportLine& line : lines) {
    print_figures(out, line.name, line.training, line.test, has_test_rows);
  }
  // The network against each naive forecast; per-target lines are indented and left out here.
  // With several targets their RMSE mixes units, so the comparison is of NRMSE.
  const auto per_target = [](const ReportLine& line) { return line.name.rfind("  ", 0) == 0; };
  const bool several = std::any_of(lines.begin(), lines.end(), per_target);
  const bool test = has_test_rows;
  const auto error = [&](const ReportLine& line) {
    const ErrorFigures& figures = test ? line.test : line.training;
    return several ? figures.nrmse : figures.rmse;
  };
  const double own = error(lines.front());
  bool first = true;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (per_target(lines[i])) continue;
    if (first) {
      std::fprintf(out, "\nThe network's %s on the %s rows is\n", several ? "NRMSE" : "RMSE",
                   test ? "test" : "training");
    }
    first = false;
    const double ratio = error(lines[i]) / own;
    const char* name = lines[i].name.c_str();
    if (std::isnan(ratio)) {
      std::fprintf(out, "  not comparable with that of '%s'\n", name);
    } else if (ratio == 0.0) {
      std::fprintf(out, "  infinitely LARGER than that of '%s'\n", name);
    } else if (std::isinf(ratio)) {
      std::fprintf(out, "  infinitely smaller than that of '%s'\n", name);
    } else if (ratio >= 1.0) {
      std::fprintf(out, "  %s times smaller than that of '%s'\n", figure(ratio).c_str(), name);
    } else {
      std::fprintf(out, "  %s times LARGER than that of '%s'\n", figure(1.0 / ratio).c_str(), name);
    }
  }
}

}  // namespace trainer
