#ifndef OSCNET_TRAINER_PIPELINE_SPLIT_H
#define OSCNET_TRAINER_PIPELINE_SPLIT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "trainer/dataset.h"
#include "trainer/options.h"
#include "trainer/pipeline/run_state.h"

namespace trainer {

/// --test-fraction, or the default for the data: half of the built-in series, a fifth of a file.
double test_fraction_for(const Options& options);

/// --validation-fraction, or the default (none for the built-in series); the same when a loaded
/// network is only evaluated, so that it is evaluated on the rows it was trained and evaluated on.
/// Throws InputError for
/// --patience above 0 with --validation-fraction 0, which could never stop.
double validation_fraction_for(const Options& options);

/// --split, or the default: the last rows for the built-in series and rows in time order (a
/// model of the past must not be tested on rows between those it learned), random otherwise.
SplitChoice split_choice_for(const Options& options, const Dataset& data);

/// Holds out `test_fraction` of the rows (rounded to the nearest row) for testing, then
/// `validation_fraction` of the others for validation: with `tail` the last rows, in order;
/// with `random` rows drawn from the stream of `seed` for splitting (the test rows first, so
/// that the validation fraction does not change them). Throws InputError when no row would be
/// left to train on, or when a fraction above 0 rounds to no row; but a validation fraction
/// that is only the default gives way to no validation on data too small for it.
RowSplit split_rows(const Dataset& data, double test_fraction, double validation_fraction,
                    bool validation_given, SplitChoice choice, std::uint32_t seed);

/// Rearranges the data's rows (their labels and current values too), and the table rows they
/// came from, into the split's order.
void arrange_rows(Dataset& data, RowSource& source, const RowSplit& split);

/// What makes the test rows a poor test, said plainly: a target constant on them, or a single
/// class among them.
std::vector<std::string> split_warnings(const RunState& state);

}  // namespace trainer

#endif
