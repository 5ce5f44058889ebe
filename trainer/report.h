#ifndef OSCNET_TRAINER_REPORT_H
#define OSCNET_TRAINER_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

#include "trainer/classification_figures.h"
#include "trainer/metrics.h"
#include "trainer/run_summary.h"

namespace trainer {

/// One line of the final table: a predictor and its errors on the training and test rows. A
/// name indented by two spaces is one target's line under the predictor above it.
struct ReportLine {
  std::string name;
  ErrorFigures training;
  ErrorFigures test;
};

/// Prints the table of RMSE and NRMSE (the first line is the network's, the others naive
/// baselines), then how many times smaller the network's test error is than each baseline's:
/// RMSE, or NRMSE when there are several targets, whose RMSE mixes units.
/// Test columns are left out when there are no test rows.
void print_report(std::FILE* out, const std::vector<ReportLine>& lines, bool has_test_rows);

/// A classification's table: the accuracy of the network and of always predicting the training
/// rows' majority class, on the training and test rows, a word when the network does no better
/// than the majority class, then the confusion matrix as an aligned table.
void print_classification_report(std::FILE* out, const ClassificationFigures& figures,
                                 const std::vector<std::string>& class_names, bool has_test_rows);

/// Prints each run's figures on a line of its own, their mean and standard deviation, and which
/// run is kept (see kept_run), in the columns of print_report.
void print_runs(std::FILE* out, const std::vector<RunFigures>& runs, bool has_test_rows);

}  // namespace trainer

#endif
