#include "trainer/run_summary.h"

#include <cmath>
#include <functional>

namespace trainer {
namespace {

struct MeanAndDeviation {
  double mean;
  double deviation;
};

MeanAndDeviation mean_and_deviation(const std::vector<RunFigures>& runs,
                                    const std::function<double(const RunFigures&)>& figure) {
  const auto n = static_cast<double>(runs.size());
  double sum = 0.0;
  for (const RunFigures& run : runs) sum += figure(run);
  const double mean = sum / n;
  double squares = 0.0;
  for (const RunFigures& run : runs) squares += (figure(run) - mean) * (figure(run) - mean);
  return {mean, runs.size() > 1 ? std::sqrt(squares / (n - 1.0)) : 0.0};
}

}  // namespace

std::size_t kept_run(const std::vector<RunFigures>& runs) {
  const bool validation = !runs.empty() && !std::isnan(runs.front().validation_loss);
  const auto loss = [&](const RunFigures& run) {
    return validation ? run.validation_loss : run.training_loss;
  };
  std::size_t kept = 0;
  for (std::size_t i = 1; i < runs.size(); ++i) {
    if (loss(runs[i]) < loss(runs[kept])) kept = i;
  }
  return kept;
}

RunSpread spread_of(const std::vector<RunFigures>& runs) {
  RunSpread spread;
  const auto fill = [&](ErrorFigures RunSpread::*mean, ErrorFigures RunSpread::*deviation,
                        ErrorFigures RunFigures::*part) {
    const MeanAndDeviation rmse =
        mean_and_deviation(runs, [&](const RunFigures& run) { return (run.*part).rmse; });
    const MeanAndDeviation nrmse =
        mean_and_deviation(runs, [&](const RunFigures& run) { return (run.*part).nrmse; });
    spread.*mean = {rmse.mean, nrmse.mean};
    spread.*deviation = {rmse.deviation, nrmse.deviation};
  };
  fill(&RunSpread::training_mean, &RunSpread::training_deviation, &RunFigures::training);
  fill(&RunSpread::test_mean, &RunSpread::test_deviation, &RunFigures::test);
  return spread;
}

}  // namespace trainer
