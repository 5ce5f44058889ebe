#include "trainer/options.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>

#include "trainer/input_error.h"
#include "trainer/input_limits.h"
#include "trainer/trimmed.h"

namespace trainer {
namespace {

template <typename Integer>
Integer parse_integer(std::string_view option, std::string_view text, Integer low, Integer high) {
  Integer value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw InputError(std::string(option) + " must be a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high) + ", not '" + std::string(text) + "'");
  }
  return value;
}

double parse_real(std::string_view option, std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    throw InputError(std::string(option) + " must be a number, not '" + std::string(text) + "'");
  }
  return value;
}

// "a,b,c" as its trimmed items; throws InputError for an empty item.
std::vector<std::string> parse_list(std::string_view option, std::string_view text) {
  std::vector<std::string> items;
  for (;;) {
    const auto comma = text.find(',');
    const std::string_view item = trimmed(text.substr(0, comma));
    if (item.empty()) {
      throw InputError(std::string(option) + " takes a comma-separated list with no empty item");
    }
    items.emplace_back(item);
    if (comma == std::string_view::npos) return items;
    text = text.substr(comma + 1);
  }
}

// A fraction at least 0 and below 1.
double parse_fraction(std::string_view option, std::string_view text) {
  const double fraction = parse_real(option, text);
  if (!(fraction >= 0.0 && fraction < 1.0)) {
    throw InputError(std::string(option) + " must be at least 0 and below 1, not '" +
                     std::string(text) + "'");
  }
  return fraction;
}

// Each run keeps its figures until the end; each thread holds a network.
constexpr int kMaxRuns = 100000;
constexpr int kMaxJobs = 1024;
// Lags and horizons far beyond any series held in memory are typing errors.
constexpr int kMaxLag = 1000000;

}  // namespace

std::vector<HiddenLayer> default_layers() {
  return {{16, Activation::tanh}, {8, Activation::tanh}};
}

std::vector<HiddenLayer> parse_layers(const std::string& text) {
  std::vector<HiddenLayer> layers;
  std::string_view rest = text;
  for (std::size_t index = 1;; ++index) {
    const auto comma = rest.find(',');
    const std::string_view layer = trimmed(rest.substr(0, comma));
    const std::string where =
        "--layers: layer " + std::to_string(index) + " ('" + std::string(layer) + "')";
    const auto colon = layer.find(':');
    if (layer.empty() || colon == std::string_view::npos) {
      throw InputError(where + " is not UNITS:ACTIVATION, as in 16:tanh");
    }
    HiddenLayer hidden;
    hidden.units =
        parse_integer<int>(where + ": units", trimmed(layer.substr(0, colon)), 1, INT_MAX);
    const std::string_view name = trimmed(layer.substr(colon + 1));
    const auto activation = activation_from_name(name);
    if (!activation) {
      throw InputError(where + ": unknown activation '" + std::string(name) + "'; use " +
                       activation_names());
    }
    hidden.activation = *activation;
    layers.push_back(hidden);
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return layers;
}

std::string format_layers(const std::vector<HiddenLayer>& layers) {
  std::string text;
  for (const HiddenLayer& layer : layers) {
    if (!text.empty()) text += ',';
    text += std::to_string(layer.units) + ':' + activation_name(layer.activation);
  }
  return text;
}

Options parse_options(int argc, const char* const* argv) {
  Options options;
  using Setter = std::function<void(std::string_view name, std::string_view value)>;
  // Options that take a value; the flags follow below.
  const std::map<std::string_view, Setter> valued = {
      {"--data", [&](auto, auto value) { options.data_path = std::string(value); }},
      {"--targets",
       [&](auto name, auto value) {
         options.targets = parse_integer<int>(name, value, 1, 1000000);
       }},
      {"--layers", [&](auto, auto value) { options.layers = parse_layers(std::string(value)); }},
      {"--optimizer",
       [&](auto, auto value) {
         if (value == "gd") {
           options.optimizer = OptimizerChoice::gradient_descent;
         } else if (value == "adagrad") {
           options.optimizer = OptimizerChoice::adagrad;
         } else {
           throw InputError("--optimizer takes gd or adagrad, not '" + std::string(value) + "'");
         }
       }},
      {"--lr",
       [&](auto name, auto value) {
         options.learning_rate = parse_real(name, value);
         if (!(options.learning_rate > 0.0)) {
           throw InputError("--lr must be above 0, not '" + std::string(value) + "'");
         }
       }},
      {"--epochs",
       [&](auto name, auto value) {
         options.epochs = parse_integer<int>(name, value, 0, INT_MAX);
       }},
      {"--iterations",
       [&](auto name, auto value) {
         options.iterations = parse_integer<int>(name, value, 1, INT_MAX);
       }},
      {"--target",
       [&](auto name, auto value) { options.target_columns = parse_list(name, value); }},
      {"--inputs", [&](auto name, auto value) { options.input_columns = parse_list(name, value); }},
      {"--lags",
       [&](auto name, auto value) {
         options.lags.clear();
         for (const std::string& lag : parse_list(name, value)) {
           options.lags.push_back(parse_integer<int>(name, lag, 0, kMaxLag));
         }
       }},
      {"--horizon",
       [&](auto name, auto value) {
         options.horizon = parse_integer<int>(name, value, 1, kMaxLag);
       }},
      {"--time", [&](auto, auto value) { options.time_column = std::string(value); }},
      {"--classify", [&](auto, auto value) { options.classify_column = std::string(value); }},
      {"--predict", [&](auto, auto value) { options.predict_path = std::string(value); }},
      {"--output", [&](auto, auto value) { options.output_path = std::string(value); }},
      {"--test-fraction",
       [&](auto name, auto value) { options.test_fraction = parse_fraction(name, value); }},
      {"--validation-fraction",
       [&](auto name, auto value) { options.validation_fraction = parse_fraction(name, value); }},
      {"--patience",
       [&](auto name, auto value) {
         options.patience = parse_integer<int>(name, value, 0, INT_MAX);
       }},
      {"--split",
       [&](auto, auto value) {
         if (value == "random") {
           options.split = SplitChoice::random;
         } else if (value == "tail") {
           options.split = SplitChoice::tail;
         } else {
           throw InputError("--split takes random or tail, not '" + std::string(value) + "'");
         }
       }},
      {"--scale",
       [&](auto, auto value) {
         if (value == "minmax") {
           options.scaling = ScaleChoice::minmax;
         } else if (value == "standard") {
           options.scaling = ScaleChoice::standard;
         } else if (value == "none") {
           options.scaling = ScaleChoice::none;
         } else {
           throw InputError("--scale takes minmax, standard or none, not '" + std::string(value) +
                            "'");
         }
       }},
      {"--seed",
       [&](auto name, auto value) {
         options.seed = parse_integer<std::uint32_t>(name, value, 0, UINT32_MAX);
       }},
      {"--runs",
       [&](auto name, auto value) { options.runs = parse_integer<int>(name, value, 1, kMaxRuns); }},
      {"--jobs",
       [&](auto name, auto value) { options.jobs = parse_integer<int>(name, value, 0, kMaxJobs); }},
      {"--plot", [&](auto, auto value) { options.plot_path = std::string(value); }},
      {"--save", [&](auto, auto value) { options.save_path = std::string(value); }},
      {"--load", [&](auto, auto value) { options.load_path = std::string(value); }},
      {kMaxFileSizeOption,
       [&](auto name, auto value) { options.max_file_size = parse_size(name, value); }},
      {kMaxLineLengthOption,
       [&](auto name, auto value) {
         const std::uint64_t length = parse_size(name, value);
         // A line is held in memory whole.
         if (length > SIZE_MAX / 2) {
           throw InputError(std::string(name) + " " + std::string(value) +
                            " is more than this machine can address");
         }
         options.max_line_length = static_cast<std::size_t>(length);
       }},
  };
  bool no_scale = false;
  bool shuffle = false;
  bool in_order = false;
  const std::map<std::string_view, bool*> flags = {{"--shuffle", &shuffle},
                                                   {"--in-order", &in_order},
                                                   {"--no-scale", &no_scale},
                                                   {"--quiet", &options.quiet},
                                                   {"--help", &options.show_help},
                                                   {"-h", &options.show_help},
                                                   {"--version", &options.show_version}};

  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (const auto flag = flags.find(argument); flag != flags.end()) {
      *flag->second = true;
      continue;
    }
    // --name=value or --name value
    const auto equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const auto setter = valued.find(name);
    if (setter == valued.end()) {
      if (argument.substr(0, 1) == "-") {
        throw InputError("unknown option '" + std::string(argument) + "' (see --help)");
      }
      throw InputError("unexpected argument '" + std::string(argument) +
                       "': data files are given with --data (see --help)");
    }
    std::string_view value;
    if (equals != std::string_view::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      throw InputError(std::string(name) + " needs a value (see --help)");
    }
    if (value.empty()) throw InputError(std::string(name) + " needs a value, not ''");
    setter->second(name, value);
  }
  if (no_scale) {
    if (options.scaling && *options.scaling != ScaleChoice::none) {
      throw InputError("--no-scale contradicts --scale; give one of them");
    }
    options.scaling = ScaleChoice::none;
  }
  if (shuffle && in_order) throw InputError("--in-order contradicts --shuffle; give one of them");
  if (in_order) options.shuffle = false;
  if (options.seed > UINT32_MAX - static_cast<std::uint32_t>(options.runs - 1)) {
    throw InputError("--runs " + std::to_string(options.runs) + " from --seed " +
                     std::to_string(options.seed) + " would take seeds above " +
                     std::to_string(UINT32_MAX));
  }
  return options;
}

std::string usage_text() {
  return R"(Usage: oscnet-train [options]

Trains an oscnet network one row at a time and reports how well it learned.
Without --data it forecasts the Mackey-Glass chaotic series (delay 17): x(t+6) from
x(t-18), x(t-12), x(t-6) and x(t), training on t = 118..617 and testing on t = 618..1117.

Data
  --data FILE.csv        comma-separated columns, optional header row; columns of
                         text (dates, labels) are skipped unless named; - reads
                         standard input
  --targets K            the last K columns are the targets (default 1)
  --target LIST          the target columns, by header name or number from 1
  --inputs LIST          the input columns (default: every other numeric column;
                         with --lags, none but the targets' past)
  --lags LIST            inputs are the series' values this many rows back, as in
                         18,12,6,0: of the target columns and the --inputs columns;
                         the target lies --horizon rows ahead
  --horizon H            how many rows ahead the target lies with --lags (default 1)
  --time COLUMN          a date or time column that labels the plot's rows; never
                         an input
  --classify COLUMN      a label column (names or numbers): one output per class,
                         reported as accuracy
  --test-fraction F      hold out F of the rows for testing
                         (default 0.2; 0.5 for the built-in series)
  --validation-fraction F  hold out F of the training rows to choose the epoch whose
                         weights are kept (default 0.2; 0 for the built-in series);
                         0 turns validation and early stopping off
  --patience N           stop after N epochs without a better validation loss
                         (default 500; 0: every epoch runs, the best is still kept)
  --split random|tail    hold out rows at random, drawn with --seed (the default for
                         tables), or the last ones, in order (the default for series)
  --scale minmax|standard|none
                         scale every column on the training rows to [-1, 1], to mean 0
                         and deviation 1, or not at all (errors are always reported in
                         the data's own units); --no-scale is --scale none

Network and training
  --layers LIST          hidden layers as UNITS:ACTIVATION,... with activations relu,
                         sigmoid, tanh (tanh of 6x), lee (Lee oscillator), none
                         (default 16:tanh,8:tanh)
  --optimizer gd|adagrad gradient descent (default) or Adagrad, whose sums of squared
                         gradients carry over from row to row for the whole run
  --lr RATE              learning rate (default 0.001)
  --epochs N             passes over the training rows, at most (default 4000; 0 with
                         --load)
  --iterations N         training steps per row and pass (default 1)
  --shuffle              visit the training rows in a new random order every pass
                         (the default)
  --in-order             visit them in the file's order every pass instead
  --seed N               seeds the initial weights, the shuffling and the oscillator's
                         random draws, so that a run can be repeated (default 1)
  --runs K               train K networks, with seeds N, N+1, ..., N+K-1, and report each;
                         the one with the lowest validation loss (training loss without
                         validation rows) is kept (default 1)
  --jobs J               train up to J runs at once on threads of their own (default 1;
                         0: one per core); the figures do not depend on it

Output
  --quiet                no progress display
  --plot FILE.svg        draw the loss per pass and the test predictions against the truth
  --save FILE.json       keep the trained weights (oscnet-weights format; they work on the
                         data's own units, scaling included)
  --load FILE.json       start from saved weights; the layers come from the file
  --predict FILE.csv     with --load: predict these rows instead of training
  --output FILE.csv      write the predictions: of --predict's rows (else to standard
                         output), or of the test rows with their true values
  --help, --version

Limits (sizes in bytes, or with K, M or G for 1024, 1024^2, 1024^3)
  --max-file-size SIZE   the largest data or weights file read (default 1G for data,
                         256M for weights); larger files are refused before reading
  --max-line-length SIZE the longest line of a data file (default 1M); a cell may hold
                         64K at most

Exit status: 0 done, 1 training failed (the loss diverged, or memory ran out) or a file
could not be written, 2 bad input (options, data or weights file).
)";
}

}  // namespace trainer
