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

}  // namespace

void print_report(std::FILE* out, const std::vector<ReportLine>& lines, bool has_test_rows) {
  // Columns: name, then RMSE and NRMSE on the training rows and, if any, on the test rows.
  const auto row = [&](const std::string& name, const std::vector<std::string>& cells) {
    std::string text = fitted(name, 30);
    for (const std::string& cell : cells) text += ' ' + fitted(cell, 10);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::fprintf(out, "%s\n", text.c_str());
  };
  std::fputc('\n', out);
  if (has_test_rows) {
    std::fprintf(out, "%-30s %-21s %s\n", "", "training rows", "test rows");
  } else {
    std::fprintf(out, "%-30s %s\n", "", "training rows");
  }
  row("", has_test_rows ? std::vector<std::string>{"RMSE", "NRMSE", "RMSE", "NRMSE"}
                        : std::vector<std::string>{"RMSE", "NRMSE"});
  for (const ReportLine& line : lines) {
    std::vector<std::string> cells = {figure(line.training.rmse), figure(line.training.nrmse)};
    if (has_test_rows) {
      cells.push_back(figure(line.test.rmse));
      cells.push_back(figure(line.test.nrmse));
    }
    row(line.name, cells);
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
