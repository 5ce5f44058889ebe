#ifndef OSCNET_TRAINER_PIPELINE_REPORT_H
#define OSCNET_TRAINER_PIPELINE_REPORT_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "trainer/classification_figures.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/train.h"
#include "trainer/report.h"

namespace trainer {

/// The lines before training: version, data, rows, network, training and scaling.
void print_header(std::FILE* out, const RunState& state);

/// Prints each warning on a line of its own, as the program's.
void print_warnings(std::FILE* out, const std::vector<std::string>& warnings);

/// With several runs, prints each one's figures; then, with validation rows, where the kept
/// run stopped and which epoch's weights it kept. Returns the index of the run to keep.
std::size_t report_runs(std::FILE* out, const RunState& state,
                        const std::vector<RunResult>& results);

/// The network's line and the naive forecasts' lines (the training targets' mean; the current
/// value, for a series of one target), each followed by a line per target when there are
/// several.
std::vector<ReportLine> report_lines(const RunState& state, const Outcome& outcome);

/// For a classification: the accuracy of the network and of the majority class, and the
/// confusion matrix.
ClassificationFigures classification_of(const RunState& state, const Outcome& outcome);

/// Prints the table of report_lines, or for a classification its accuracy and confusion matrix;
/// and says so plainly when the network does no better than the training targets' mean on the
/// rows held out (validation, or else test).
void report_outcome(std::FILE* out, const RunState& state, const Outcome& outcome);

}  // namespace trainer

#endif
