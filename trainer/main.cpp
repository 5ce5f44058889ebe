// oscnet-train: trains oscnet networks on a CSV file, or on the Mackey-Glass chaotic series
// when given no data, through the library's network handles, and reports how well they
// learned next to naive forecasts.
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "oscnet.h"
#include "trainer/input_error.h"
#include "trainer/network.h"
#include "trainer/options.h"
#include "trainer/pipeline/evaluate.h"
#include "trainer/pipeline/load.h"
#include "trainer/pipeline/predict.h"
#include "trainer/pipeline/report.h"
#include "trainer/pipeline/run_network.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/pipeline/scale.h"
#include "trainer/pipeline/select.h"
#include "trainer/pipeline/split.h"
#include "trainer/pipeline/train.h"
#include "trainer/pipeline/write.h"

namespace trainer {
namespace {

// The data and the network to train, read and checked: load, select, split and scale.
RunState prepare(const Options& options) {
  try {
    RunState state;
    state.options = options;
    state.data = select_columns(options, load_data(options), state.source);
    state.loaded = load_weights(options);
    state.layers = select_layers(options, state.data, state.loaded);
    state.epochs = epochs_for(options);
    state.split =
        split_rows(state.data, test_fraction_for(options), validation_fraction_for(options),
                   options.validation_fraction.has_value(), split_choice_for(options, state.data),
                   options.seed);
    arrange_rows(state.data, state.source, state.split);
    scale_columns(state);
    return state;
  } catch (const std::bad_alloc&) {
    std::string what = options.data_path.empty() ? "the built-in series" : options.data_path;
    if (!options.load_path.empty()) what += " and " + options.load_path;
    throw OutOfMemory("out of memory reading " + what);
  }
}

int run_program(int argc, const char* const* argv) {
  const Options options = parse_options(argc, argv);
  if (options.show_help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (options.show_version) {
    std::printf("oscnet-train %s\n", OSCNET_VERSION_STRING);
    return 0;
  }
  // Writing a file may meet a file size limit, which is to fail the write, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!options.predict_path.empty()) {
    check_outputs(options);
    predict_rows(stdout, options);
    return 0;
  }
  const RunState state = prepare(options);
  check_outputs(options);
  try {
    check_network(state);
    if (!options.load_path.empty()) check_loaded_outputs(state);
    print_header(stdout, state);
    print_warnings(stderr, split_warnings(state));

    const bool track_test = !options.plot_path.empty() && state.test_rows() > 0;
    const std::vector<RunResult> runs = train_runs(state, track_test);
    const RunResult& kept = runs[report_runs(stdout, state, runs)];
    // Evaluated again as in its run, to the same figures: runs keep only their weights.
    const Outcome outcome = evaluate(state, kept.figures.seed, kept.params);
    report_outcome(stdout, state, outcome);
    write_outputs(stdout, state, kept, outcome);
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("out of memory training a network of " + describe_layout(layout_of(state)));
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
