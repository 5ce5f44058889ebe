#include "trainer/report.h"

#include <cmath>

namespace trainer {
namespace {

std::string figure(double value) {
  if (!std::isfinite(value)) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

}  // namespace

void print_report(std::FILE* out, const std::vector<ReportLine>& lines, bool has_test_rows) {
  std::fprintf(out, "\n%-30s %-21s %s\n", "", "training rows", has_test_rows ? "test rows" : "");
  std::fprintf(out, "%-30s %-10s %-10s", "", "RMSE", "NRMSE");
  if (has_test_rows) std::fprintf(out, " %-10s %-10s", "RMSE", "NRMSE");
  std::fputc('\n', out);
  for (const ReportLine& line : lines) {
    std::fprintf(out, "%-30s %-10s %-10s", line.name.c_str(), figure(line.training.rmse).c_str(),
                 figure(line.training.nrmse).c_str());
    if (has_test_rows) {
      std::fprintf(out, " %-10s %-10s", figure(line.test.rmse).c_str(),
                   figure(line.test.nrmse).c_str());
    }
    std::fputc('\n', out);
  }
  if (lines.empty()) return;
  const ReportLine& network = lines.front();
  const char* rows = has_test_rows ? "test" : "training";
  std::fprintf(out, "\nOn the %s rows the network's RMSE is", rows);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const double baseline = has_test_rows ? lines[i].test.rmse : lines[i].training.rmse;
    const double own = has_test_rows ? network.test.rmse : network.training.rmse;
    const double ratio = baseline / own;
    std::string comparison;
    if (!std::isfinite(ratio)) {
      comparison = " not comparable with";
    } else if (ratio >= 1.0) {
      comparison = " " + figure(ratio) + " times smaller than";
    } else {
      comparison = " " + figure(1.0 / ratio) + " times LARGER than";
    }
    std::fprintf(out, "%s%s that of '%s'", i > 1 ? ";" : "", comparison.c_str(),
                 lines[i].name.c_str());
  }
  std::fprintf(out, ".\n");
}

}  // namespace trainer
