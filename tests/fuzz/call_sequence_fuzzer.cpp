// Decodes each input into a sequence of calls of every exported function with hostile arguments,
// on the default network and on up to four handles at once, keeps a model of what the library
// must hold, and aborts as soon as a result differs from what oscnet.h promises. Accepted networks
// stay tiny so that a run does many thousands of calls; only sizes whose weights alone exceed the
// machine's memory are huge, since those must be refused before anything is allocated.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "handle_calls.h"
#include "oscnet.h"

namespace {

using namespace fuzz;

constexpr int kMaxOps = 48;
// Seed for the C library's rand(), reset before each evaluation whose outputs are compared, so
// that the oscillator's draws repeat.
constexpr unsigned kDrawSeed = 12345;

// What the library holds, as far as the calls made so far determine it.
struct Model {
  bool built = false;
  int inputs = 0, outputs = 0, params = 0;
  std::vector<double> x, y;   // the input and target rows as last written
  double held = kNaN;         // the loss train(iterations <= 0) must return
  std::vector<double> known;  // the parameters as last set; empty when training moved them
};

Model model;

// Everything a refused call must leave alone, read without changing anything: the parameter
// count and values, the outputs on the current inputs, and the held loss.
struct Fingerprint {
  int count = 0;
  std::vector<double> params, outputs;
  double held = kNaN;
};

double held_loss() {
  double rate = 0.1;
  int code = 0;
  return train(0, 0, nullptr, nullptr, 0, &rate, &code);
}

Fingerprint fingerprint() {
  Fingerprint f;
  f.count = oscnet_param_count();
  if (!model.built) {
    EXPECT(f.count == 0);
    return f;
  }
  EXPECT(f.count == model.params);
  f.params.assign(f.count, kSentinel);
  EXPECT(oscnet_get_params(f.params.data(), f.count) == f.count);
  f.outputs.assign(model.outputs, kSentinel);
  std::srand(kDrawSeed);
  Predict(0, model.outputs, nullptr, f.outputs.data());
  f.held = held_loss();
  EXPECT(identical(f.held, model.held));
  return f;
}

void expect_unchanged(const Fingerprint& before) {
  const Fingerprint after = fingerprint();
  EXPECT(after.count == before.count);
  EXPECT(after.params.size() == before.params.size());
  EXPECT(same_bits(after.params.data(), before.params.data(), after.params.size()));
  EXPECT(same_bits(after.outputs.data(), before.outputs.data(), after.outputs.size()));
  EXPECT(identical(after.held, before.held));
}

// A size handed with a row: usually 0 to the built width, sometimes one above it, negative or
// extreme.
int pick_size(FuzzedDataProvider& in, int width) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return -1;
    case 1:
      return INT_MIN;
    case 2:
      return INT_MAX;
    case 3:
      return width + 1;
    default:
      return in.ConsumeIntegralInRange(0, std::max(width, 1));
  }
}

// A row for `size` values, or null; beyond kMaxRow a short row, which must then not be read.
std::vector<double> pick_row(FuzzedDataProvider& in, int size) {
  std::vector<double> row(std::clamp(size, 0, kMaxRow) + 1);
  for (double& v : row) v = pick_value(in);
  return row;
}

double* maybe_null(FuzzedDataProvider& in, std::vector<double>& row) {
  return in.ConsumeIntegralInRange(0, 7) == 0 ? nullptr : row.data();
}

bool row_usable(int size, const double* row, int width) {
  return size >= 0 && size <= width && (row != nullptr || size == 0);
}

void do_build(FuzzedDataProvider& in, bool hostile) {
  const int small_units = 5;
  auto pick_width = [&](int most) {
    if (!hostile || in.ConsumeIntegralInRange(0, 3) != 0) return in.ConsumeIntegralInRange(1, most);
    static const int odd[] = {0, -1, INT_MIN, INT_MAX, 1 << 30};
    return odd[in.ConsumeIntegralInRange(0, 4)];
  };
  int layers = in.ConsumeIntegralInRange(-2, 5);
  if (hostile && in.ConsumeIntegralInRange(0, 7) == 0) layers = INT_MIN;
  const int hidden = std::max(layers, 1);
  int inputs = pick_width(5), outputs = pick_width(4);
  std::vector<int> units(hidden), codes(hidden);
  for (int l = 0; l < hidden; ++l) {
    units[l] = pick_width(small_units);
    static const int odd_codes[] = {4, -1, INT_MIN, INT_MAX, 1000};
    const int c = in.ConsumeIntegralInRange(0, 8);
    codes[l] = c < 4 ? c : odd_codes[c - 4];
  }
  std::vector<double> x = pick_row(in, inputs), y = pick_row(in, outputs);
  // Each of the seven pointers is null once in eight hostile builds, so that most of them fail
  // for their sizes instead.
  const std::uint32_t bits = hostile ? in.ConsumeIntegral<std::uint32_t>() : 0;
  const std::uint32_t null_mask = bits & (bits >> 1) & (bits >> 2) & 0x7f;
  auto arg = [&](int bit, auto* pointer) { return (null_mask >> bit) & 1 ? nullptr : pointer; };

  bool valid = null_mask == 0 && inputs >= 1 && outputs >= 1 &&
               std::all_of(units.begin(), units.end(), [](int u) { return u >= 1; });
  bool huge = std::max(inputs, outputs) > kMaxRow ||
              std::any_of(units.begin(), units.end(), [](int u) { return u > small_units; });
  // Only huge descriptions whose weight values alone exceed physical memory are tried: those
  // must be refused before anything is allocated. Others would be built, at gigabytes each.
  if (valid && huge && !weights_exceed_memory(inputs, units, outputs)) return;

  const Fingerprint before = fingerprint();
  const bool accepted =
      build_net(arg(0, &layers), arg(1, &inputs), arg(2, &outputs), arg(3, x.data()),
                arg(4, y.data()), arg(5, units.data()), arg(6, codes.data()));
  if (!valid || huge) {
    EXPECT(!accepted);
    expect_unchanged(before);
    return;
  }
  EXPECT(accepted);
  model.built = true;
  model.inputs = inputs;
  model.outputs = outputs;
  model.x.assign(x.begin(), x.begin() + inputs);
  model.y.assign(y.begin(), y.begin() + outputs);
  model.held = kNaN;
  model.known.clear();
  model.params = weights_count_of(inputs, units, outputs);
  fingerprint();  // checks the count and that no loss is held yet
}

void do_train(FuzzedDataProvider& in) {
  const int input_size = pick_size(in, model.inputs), output_size = pick_size(in, model.outputs);
  std::vector<double> x = pick_row(in, input_size), y = pick_row(in, output_size);
  double* x_arg = maybe_null(in, x);
  double* y_arg = maybe_null(in, y);
  double rate = pick_rate(in);
  int code = pick_int(in, -1, 2);
  static const int odd_iterations[] = {0, -1, INT_MIN};
  const int i = in.ConsumeIntegralInRange(0, 6);
  const int iterations = i < 3 ? odd_iterations[i] : i == 3 ? 1 : in.ConsumeIntegralInRange(2, 6);
  double* rate_arg = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : &rate;
  int* code_arg = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : &code;

  const bool usable = model.built && row_usable(input_size, x_arg, model.inputs) &&
                      row_usable(output_size, y_arg, model.outputs) && rate_arg && code_arg;
  if (!usable) {
    const Fingerprint before = fingerprint();
    EXPECT(
        std::isnan(train(input_size, output_size, x_arg, y_arg, iterations, rate_arg, code_arg)));
    expect_unchanged(before);
    return;
  }
  std::copy_n(x.begin(), input_size, model.x.begin());
  std::copy_n(y.begin(), output_size, model.y.begin());
  if (iterations <= 0) {
    const Fingerprint before = fingerprint();
    EXPECT(identical(train(input_size, output_size, x_arg, y_arg, iterations, rate_arg, code_arg),
                     model.held));
    EXPECT(same_bits(fingerprint().params.data(), before.params.data(), before.params.size()));
    return;
  }
  // The loss returned is the one of the outputs the first step starts from.
  std::vector<double> output(model.outputs, kSentinel);
  std::srand(kDrawSeed);
  Predict(model.inputs, model.outputs, model.x.data(), output.data());
  std::srand(kDrawSeed);
  const double loss = train(input_size, output_size, x_arg, y_arg, iterations, rate_arg, code_arg);
  if (iterations == 1)
    EXPECT(identical(loss, loss_of(output.data(), model.y.data(), output.size())));
  model.held = loss;
  model.known.clear();
}

void do_predict(FuzzedDataProvider& in) {
  const int input_size = pick_size(in, model.inputs);
  // Output sizes beyond kMaxRow come with no row, since a refused call fills that many values.
  int output_size = pick_size(in, model.outputs);
  std::vector<double> x = pick_row(in, input_size);
  double* x_arg = maybe_null(in, x);
  std::vector<double> out(std::clamp(output_size, 0, kMaxRow) + 1, kSentinel);
  double* out_arg = output_size > kMaxRow ? nullptr : maybe_null(in, out);

  const bool usable = model.built && row_usable(input_size, x_arg, model.inputs) &&
                      row_usable(output_size, out_arg, model.outputs);
  const Fingerprint before = fingerprint();
  std::srand(kDrawSeed);
  Predict(input_size, output_size, x_arg, out_arg);
  const int written = std::max(output_size, 0);
  EXPECT(out[std::min(written, kMaxRow)] == kSentinel || out_arg == nullptr);
  if (!usable) {
    if (out_arg != nullptr) EXPECT(all_nan(out.data(), written));
    expect_unchanged(before);
    return;
  }
  std::copy_n(x.begin(), input_size, model.x.begin());
  // The outputs are the network's on the inputs now held, and the held loss stays.
  const Fingerprint after = fingerprint();
  EXPECT(same_bits(out.data(), after.outputs.data(), output_size));
  EXPECT(same_bits(after.params.data(), before.params.data(), before.params.size()));
}

int pick_count(FuzzedDataProvider& in) {
  return pick_count_near(in, model.params);
}

void do_get(FuzzedDataProvider& in) {
  const int n = pick_count(in);
  std::vector<double> out(std::max(model.params, 0) + 2, kSentinel);
  double* out_arg = in.ConsumeIntegralInRange(0, 7) == 0 ? nullptr : out.data();
  const bool usable = model.built && out_arg != nullptr && n == model.params;
  const int got = oscnet_get_params(out_arg, n);
  if (!usable) {
    EXPECT(got == -1);
    EXPECT(std::all_of(out.begin(), out.end(), [](double v) { return v == kSentinel; }));
    return;
  }
  EXPECT(got == n);
  EXPECT(out[n] == kSentinel);
  if (!model.known.empty()) EXPECT(same_bits(out.data(), model.known.data(), n));
}

void do_set(FuzzedDataProvider& in) {
  const int n = pick_count(in);
  std::vector<double> values(std::max(model.params, 0) + 1);
  for (double& v : values) v = pick_value(in);
  const double* in_arg = in.ConsumeIntegralInRange(0, 7) == 0 ? nullptr : values.data();
  const bool usable = model.built && in_arg != nullptr && n == model.params;
  const Fingerprint before = fingerprint();
  const int set = oscnet_set_params(in_arg, n);
  if (!usable) {
    EXPECT(set == -1);
    expect_unchanged(before);
    return;
  }
  EXPECT(set == n);
  model.known.assign(values.begin(), values.begin() + n);
  std::vector<double> back(n + 1, kSentinel);
  EXPECT(oscnet_get_params(back.data(), n) == n);
  EXPECT(same_bits(back.data(), model.known.data(), n) && back[n] == kSentinel);
}

void do_release() {
  release_net();
  model = Model{};
  fingerprint();
}

void do_add(FuzzedDataProvider& in) {
  const int first = pick_int(in, INT_MIN, INT_MAX), second = pick_int(in, INT_MIN, INT_MAX);
  const int expected =
      static_cast<int>(static_cast<unsigned>(first) - static_cast<unsigned>(second));
  EXPECT(myAdd(first, second) == expected);
}

// Builds the default network with a handle's layers and weights: from then on the two must
// compute the same bits, for Predict and for one call of train (Adagrad's sums are fresh in both:
// the default network restarts them on every call, the handle is reset first).
void do_mirror(FuzzedDataProvider& in) {
  HandleModel* h = pick_plain_handle(in);
  if (h == nullptr) return;
  std::vector<double> x = pick_row(in, h->inputs), y = pick_row(in, h->outputs);
  int layers = h->layers, inputs = h->inputs, outputs = h->outputs;
  std::vector<int> units = h->units, codes = h->codes;
  EXPECT(build_net(&layers, &inputs, &outputs, x.data(), y.data(), units.data(), codes.data()));
  model = Model{};
  model.built = true;
  model.inputs = inputs;
  model.outputs = outputs;
  model.x.assign(x.begin(), x.begin() + inputs);
  model.y.assign(y.begin(), y.begin() + outputs);
  model.params = h->params;
  EXPECT(oscnet_param_count() == h->params);
  EXPECT(oscnet_set_params(h->weights.data(), h->params) == h->params);

  std::vector<double> from_default(outputs, kSentinel), from_handle(outputs, kSentinel);
  Predict(inputs, outputs, x.data(), from_default.data());
  EXPECT(oscnet_predict(h->net, x.data(), from_handle.data()) == OSCNET_OK);
  EXPECT(same_values(from_default.data(), from_handle.data(), outputs));

  double rate = pick_rate(in);
  int code = in.ConsumeBool() ? OSCNET_ADAGRAD : OSCNET_GRADIENT_DESCENT;
  const int iterations = in.ConsumeIntegralInRange(1, 3);
  EXPECT(oscnet_reset_optimizer(h->net) == OSCNET_OK);
  model.held = train(inputs, outputs, x.data(), y.data(), iterations, &rate, &code);
  EXPECT(identical(model.held, oscnet_train(h->net, x.data(), y.data(), iterations, rate, code)));
  read_weights(*h);
  h->fresh_sums = false;
  std::vector<double> params(static_cast<std::size_t>(h->params), kSentinel);
  EXPECT(oscnet_get_params(params.data(), h->params) == h->params);
  EXPECT(same_values(params.data(), h->weights.data(), params.size()));
}

// A handle call must leave the default network as it was.
void on_handles(FuzzedDataProvider& in, void (*call)(FuzzedDataProvider&)) {
  const Fingerprint before = fingerprint();
  call(in);
  expect_unchanged(before);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // myAdd prints a line on every call; libFuzzer reports on standard error.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every input starts without networks, so that a failure replays from its input alone.
  release_net();
  destroy_handles();
  model = Model{};
  FuzzedDataProvider in(data, size);
  for (int op = 0; op < kMaxOps && in.remaining_bytes() > 0; ++op) {
    switch (in.ConsumeIntegralInRange(0, 19)) {
      case 0:
      case 1:
        do_build(in, false);
        break;
      case 2:
        do_build(in, true);
        break;
      case 3:
        do_train(in);
        break;
      case 4:
        do_predict(in);
        break;
      case 5:
        do_get(in);
        break;
      case 6:
        do_set(in);
        break;
      case 7:
        do_release();
        break;
      case 8:
        do_add(in);
        break;
      case 9:
        EXPECT(oscnet_param_count() == model.params);
        break;
      case 10:
        on_handles(in, [](FuzzedDataProvider& in) { do_create(in, false); });
        break;
      case 11:
        on_handles(in, [](FuzzedDataProvider& in) { do_create(in, true); });
        break;
      case 12:
        on_handles(in, do_destroy);
        break;
      case 13:
        on_handles(in, do_handle_train);
        break;
      case 14:
        on_handles(in, do_handle_predict);
        break;
      case 15:
        on_handles(in, do_handle_rows);
        break;
      case 16:
        on_handles(in, do_handle_get);
        break;
      case 17:
        on_handles(in, do_handle_set);
        break;
      case 18:
        on_handles(in, in.ConsumeBool() ? do_handle_reset : do_handle_sizes);
        break;
      default:
        do_mirror(in);
        break;
    }
    // Whatever the call, every live handle still holds what its model says.
    check_handles();
  }
  release_net();
  destroy_handles();
  return 0;
}
