#include "handle_calls.h"

#include <string>
#include <thread>

#include "fuzz_support.h"

namespace fuzz {
namespace {

HandleModel slots[kSlots];

// The message oscnet_last_error() gave right after the call under test, on the calling thread.
std::string message;

// Makes the call under test here, or one time in eight on a thread of its own, where no earlier
// call has left a message: the message read there can only be this call's.
template <typename Call>
auto make_call(FuzzedDataProvider& in, Call call) {
  auto call_and_read = [&] {
    const auto result = call();
    const char* text = oscnet_last_error();
    EXPECT(text != nullptr);
    message = text;
    return result;
  };
  if (in.ConsumeIntegralInRange(0, 7) != 0) return call_and_read();
  decltype(call()) result{};
  std::thread([&] { result = call_and_read(); }).join();
  return result;
}

// Every failing handle call must leave a message behind.
void expect_message() {
  EXPECT(!message.empty());
}

std::vector<double> values(FuzzedDataProvider& in, int n) {
  std::vector<double> row(static_cast<std::size_t>(n) + 1, kSentinel);
  for (int j = 0; j < n; ++j) row[j] = pick_value(in);
  return row;
}

template <typename T>
T* maybe_null(FuzzedDataProvider& in, std::vector<T>& row) {
  return in.ConsumeIntegralInRange(0, 7) == 0 ? nullptr : row.data();
}

oscnet_network* net_of(const HandleModel* h) {
  return h ? h->net : nullptr;
}

std::vector<double> weights_of(oscnet_network* net, int n) {
  std::vector<double> out(static_cast<std::size_t>(n) + 1, kSentinel);
  EXPECT(oscnet_get_weights(net, out.data(), n) == n);
  EXPECT(out[n] == kSentinel);
  out.pop_back();
  return out;
}

oscnet_network* create_like(const HandleModel& h, unsigned seed) {
  oscnet_network* net =
      oscnet_create(h.inputs, h.outputs, h.layers, h.units.data(), h.codes.data(), seed);
  EXPECT(net != nullptr);
  return net;
}

// A new network of h's layers holding h's weights, with fresh optimizer sums and draws.
oscnet_network* copy_of(const HandleModel& h) {
  oscnet_network* copy = create_like(h, h.seed);
  EXPECT(oscnet_set_weights(copy, h.weights.data(), h.params) == h.params);
  return copy;
}

std::vector<double> outputs_of(oscnet_network* net, const HandleModel& h, const double* x) {
  std::vector<double> out(static_cast<std::size_t>(h.outputs) + 1, kSentinel);
  EXPECT(oscnet_predict(net, x, out.data()) == OSCNET_OK);
  EXPECT(out[h.outputs] == kSentinel);
  out.pop_back();
  return out;
}

}  // namespace

HandleModel* pick_handle(FuzzedDataProvider& in) {
  HandleModel& h = slots[in.ConsumeIntegralInRange(0, kSlots - 1)];
  return in.ConsumeIntegralInRange(0, 7) == 0 || h.net == nullptr ? nullptr : &h;
}

HandleModel* pick_plain_handle(FuzzedDataProvider& in) {
  const int start = in.ConsumeIntegralInRange(0, kSlots - 1);
  for (int i = 0; i < kSlots; ++i) {
    HandleModel& h = slots[(start + i) % kSlots];
    if (h.net != nullptr && !h.lee) return &h;
  }
  return nullptr;
}

void read_weights(HandleModel& h) {
  h.weights = weights_of(h.net, h.params);
}

void check_handles() {
  EXPECT(oscnet_last_error() != nullptr);
  for (HandleModel& h : slots) {
    if (h.net == nullptr) continue;
    EXPECT(oscnet_input_size(h.net) == h.inputs);
    EXPECT(oscnet_output_size(h.net) == h.outputs);
    EXPECT(oscnet_weights_count(h.net) == h.params);
    const std::vector<double> now = weights_of(h.net, h.params);
    EXPECT(same_bits(now.data(), h.weights.data(), now.size()));
  }
}

void destroy_handles() {
  for (HandleModel& h : slots) {
    oscnet_destroy(h.net);
    h = HandleModel{};
  }
}

void do_create(FuzzedDataProvider& in, bool hostile) {
  constexpr int kSmallUnits = 5;
  auto pick_width = [&](int most) {
    if (!hostile || in.ConsumeIntegralInRange(0, 3) != 0) return in.ConsumeIntegralInRange(1, most);
    static const int odd[] = {0, -1, INT_MIN, INT_MAX, 1 << 30};
    return odd[in.ConsumeIntegralInRange(0, 4)];
  };
  HandleModel h;
  h.layers = in.ConsumeIntegralInRange(1, 3);
  if (hostile && in.ConsumeIntegralInRange(0, 3) == 0) {
    static const int odd_layers[] = {0, -1, INT_MIN};
    h.layers = odd_layers[in.ConsumeIntegralInRange(0, 2)];
  }
  h.inputs = pick_width(5);
  h.outputs = pick_width(4);
  for (int l = 0; l < std::max(h.layers, 1); ++l) {
    h.units.push_back(pick_width(kSmallUnits));
    static const int odd_codes[] = {4, -1, INT_MIN, INT_MAX};
    const int c = in.ConsumeIntegralInRange(0, 7);
    h.codes.push_back(c < 4 ? c : odd_codes[c - 4]);
  }
  h.seed = in.ConsumeBool() ? in.ConsumeIntegral<unsigned>() : in.ConsumeIntegralInRange(0u, 3u);
  const int* units = hostile && in.ConsumeIntegralInRange(0, 5) == 0 ? nullptr : h.units.data();
  const int* codes = hostile && in.ConsumeIntegralInRange(0, 5) == 0 ? nullptr : h.codes.data();
  HandleModel& slot = slots[in.ConsumeIntegralInRange(0, kSlots - 1)];

  const bool valid = units && codes && h.layers >= 1 && h.inputs >= 1 && h.outputs >= 1 &&
                     std::all_of(h.units.begin(), h.units.end(), [](int u) { return u >= 1; });
  const bool huge =
      std::max(h.inputs, h.outputs) > kMaxRow ||
      std::any_of(h.units.begin(), h.units.end(), [](int u) { return u > kSmallUnits; });
  // Only huge networks that could never fit are tried; others would really be built.
  if (valid && huge && !weights_exceed_memory(h.inputs, h.units, h.outputs)) return;

  oscnet_network* net = make_call(
      in, [&] { return oscnet_create(h.inputs, h.outputs, h.layers, units, codes, h.seed); });
  if (!valid || huge) {
    EXPECT(net == nullptr);
    expect_message();
    return;
  }
  EXPECT(net != nullptr);
  // The slot's earlier network goes only now, so that the new one is made beside it.
  oscnet_destroy(slot.net);
  h.net = net;
  h.params = weights_count_of(h.inputs, h.units, h.outputs);
  h.lee = std::find(h.codes.begin(), h.codes.end(), 3) != h.codes.end();
  read_weights(h);
  for (double w : h.weights) EXPECT(std::fabs(w) < 0.2);
  slot = h;

  // The seed alone decides the weights, whatever other networks exist.
  oscnet_network* twin = create_like(h, h.seed);
  oscnet_network* other = create_like(h, h.seed + 1);
  const std::vector<double> twin_weights = weights_of(twin, h.params);
  const std::vector<double> other_weights = weights_of(other, h.params);
  EXPECT(same_bits(twin_weights.data(), h.weights.data(), h.params));
  EXPECT(!same_bits(other_weights.data(), h.weights.data(), h.params));
  oscnet_destroy(twin);
  oscnet_destroy(other);
}

void do_destroy(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  oscnet_destroy(net_of(h));  // a null handle is harmless
  if (h != nullptr) *h = HandleModel{};
}

void do_handle_train(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int inputs = h ? h->inputs : in.ConsumeIntegralInRange(1, 4);
  const int outputs = h ? h->outputs : in.ConsumeIntegralInRange(1, 4);
  std::vector<double> x = values(in, inputs), y = values(in, outputs);
  const double* x_arg = maybe_null(in, x);
  const double* y_arg = maybe_null(in, y);
  static const int odd_iterations[] = {0, -1, INT_MIN};
  const int i = in.ConsumeIntegralInRange(0, 6);
  const int iterations = i < 3 ? odd_iterations[i] : i == 3 ? 1 : in.ConsumeIntegralInRange(2, 4);
  const double rate = pick_rate(in);
  // Mostly a valid optimizer, so that valid calls are common enough to check training.
  const int c = in.ConsumeIntegralInRange(0, 4);
  const int code = c < 2 ? OSCNET_GRADIENT_DESCENT : c < 4 ? OSCNET_ADAGRAD : pick_int(in, -1, 2);

  const bool valid = h && x_arg && y_arg && iterations >= 1 &&
                     (code == OSCNET_GRADIENT_DESCENT || code == OSCNET_ADAGRAD);
  if (!valid) {
    EXPECT(std::isnan(make_call(
        in, [&] { return oscnet_train(net_of(h), x_arg, y_arg, iterations, rate, code); })));
    expect_message();
    return;  // the caller checks that every network kept its weights
  }
  if (h->lee) {
    // Its outputs depend on draws no copy shares; only the weights it ends with are known.
    oscnet_train(h->net, x_arg, y_arg, iterations, rate, code);
    read_weights(*h);
    h->fresh_sums = false;
    return;
  }
  const std::vector<double> before = outputs_of(h->net, *h, x_arg);
  // Two copies with fresh sums: one trained in a single call, one a step per call. They must
  // end alike, since the optimizer's sums carry over from call to call; and the first must end
  // as this network does when its sums are fresh too.
  oscnet_network* at_once = copy_of(*h);
  oscnet_network* stepwise = copy_of(*h);
  const double at_once_loss = oscnet_train(at_once, x_arg, y_arg, iterations, rate, code);
  double stepwise_loss = kNaN;
  for (int step = 0; step < iterations; ++step) {
    stepwise_loss = oscnet_train(stepwise, x_arg, y_arg, 1, rate, code);
  }
  const std::vector<double> at_once_weights = weights_of(at_once, h->params);
  const std::vector<double> stepwise_weights = weights_of(stepwise, h->params);
  oscnet_destroy(at_once);
  oscnet_destroy(stepwise);
  EXPECT(identical(stepwise_loss, at_once_loss));
  EXPECT(same_values(stepwise_weights.data(), at_once_weights.data(), h->params));

  const double loss = oscnet_train(h->net, x_arg, y_arg, iterations, rate, code);
  if (iterations == 1) EXPECT(identical(loss, loss_of(before.data(), y_arg, outputs)));
  read_weights(*h);
  if (h->fresh_sums) {
    EXPECT(identical(loss, at_once_loss));
    EXPECT(same_values(h->weights.data(), at_once_weights.data(), h->params));
  }
  h->fresh_sums = false;
}

void do_handle_predict(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int inputs = h ? h->inputs : in.ConsumeIntegralInRange(1, 4);
  const int outputs = h ? h->outputs : in.ConsumeIntegralInRange(1, 4);
  std::vector<double> x = values(in, inputs);
  std::vector<double> out(static_cast<std::size_t>(outputs) + 1, kSentinel);
  const double* x_arg = maybe_null(in, x);
  double* out_arg = maybe_null(in, out);

  const int result = make_call(in, [&] { return oscnet_predict(net_of(h), x_arg, out_arg); });
  EXPECT(out[outputs] == kSentinel);
  if (!h || !x_arg || !out_arg) {
    EXPECT(result == OSCNET_ERROR_ARGUMENT);
    expect_message();
    if (h && out_arg) EXPECT(all_nan(out.data(), outputs));
    return;
  }
  EXPECT(result == OSCNET_OK);
  // The outputs are a function of the weights and the row: the same again, and the same from a
  // copy of the network.
  if (!h->lee) {
    const std::vector<double> again = outputs_of(h->net, *h, x_arg);
    oscnet_network* copy = copy_of(*h);
    const std::vector<double> copied = outputs_of(copy, *h, x_arg);
    oscnet_destroy(copy);
    EXPECT(same_bits(again.data(), out.data(), outputs));
    EXPECT(same_bits(copied.data(), out.data(), outputs));
  }
}

void do_handle_rows(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int inputs = h ? h->inputs : in.ConsumeIntegralInRange(1, 4);
  const int outputs = h ? h->outputs : in.ConsumeIntegralInRange(1, 4);
  static const int odd_counts[] = {-1, INT_MIN, 0};
  const int c = in.ConsumeIntegralInRange(0, 5);
  const int rows = c < 3 ? odd_counts[c] : in.ConsumeIntegralInRange(1, 5);
  const int room = std::max(rows, 0);
  std::vector<double> x = values(in, room * inputs);
  std::vector<double> out(static_cast<std::size_t>(room * outputs) + 1, kSentinel);
  // Null arrays only with rows to read or write, where they are certainly wrong.
  const double* x_arg = rows > 0 ? maybe_null(in, x) : x.data();
  double* out_arg = rows > 0 ? maybe_null(in, out) : out.data();

  const int result =
      make_call(in, [&] { return oscnet_predict_rows(net_of(h), x_arg, rows, out_arg); });
  EXPECT(out[room * outputs] == kSentinel);
  if (!h || !x_arg || !out_arg || rows < 0) {
    EXPECT(result == OSCNET_ERROR_ARGUMENT);
    expect_message();
    if (h && out_arg && rows >= 0) EXPECT(all_nan(out.data(), rows * outputs));
    return;
  }
  EXPECT(result == OSCNET_OK);
  if (rows == 0) return;
  // Row by row on a network made alike, whose own draws start where a fresh network's do, must
  // give the same bits as all rows at once on another such network.
  oscnet_network* at_once = copy_of(*h);
  oscnet_network* one_by_one = copy_of(*h);
  std::vector<double> all(static_cast<std::size_t>(rows * outputs), kSentinel);
  EXPECT(oscnet_predict_rows(at_once, x_arg, rows, all.data()) == OSCNET_OK);
  for (int r = 0; r < rows; ++r) {
    const std::vector<double> single = outputs_of(one_by_one, *h, x_arg + r * inputs);
    EXPECT(same_values(single.data(), all.data() + r * outputs, outputs));
  }
  oscnet_destroy(at_once);
  oscnet_destroy(one_by_one);
  if (!h->lee) EXPECT(same_values(all.data(), out.data(), all.size()));
}

// The most weights the counts given with a null handle stand for; arrays hold that many.
constexpr int kMaxCount = 40;

int pick_count(FuzzedDataProvider& in, const HandleModel* h) {
  return pick_count_near(in, h ? h->params : in.ConsumeIntegralInRange(1, kMaxCount));
}

void do_handle_get(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int n = pick_count(in, h);
  std::vector<double> out(static_cast<std::size_t>(h ? h->params : kMaxCount) + 2, kSentinel);
  double* out_arg = maybe_null(in, out);
  const int got = make_call(in, [&] { return oscnet_get_weights(net_of(h), out_arg, n); });
  if (!h || !out_arg || n != h->params) {
    EXPECT(got == -1);
    expect_message();
    EXPECT(std::all_of(out.begin(), out.end(), [](double v) { return v == kSentinel; }));
    return;
  }
  EXPECT(got == n);
  EXPECT(out[n] == kSentinel);
  EXPECT(same_bits(out.data(), h->weights.data(), n));
}

void do_handle_set(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int n = pick_count(in, h);
  std::vector<double> given = values(in, h ? h->params : kMaxCount);
  const double* given_arg = maybe_null(in, given);
  const int set = make_call(in, [&] { return oscnet_set_weights(net_of(h), given_arg, n); });
  if (!h || !given_arg || n != h->params) {
    EXPECT(set == -1);
    expect_message();
    return;
  }
  EXPECT(set == n);
  h->weights.assign(given.begin(), given.begin() + n);
}

void do_handle_reset(FuzzedDataProvider& in) {
  HandleModel* h = pick_handle(in);
  const int result = make_call(in, [&] { return oscnet_reset_optimizer(net_of(h)); });
  if (!h) {
    EXPECT(result == OSCNET_ERROR_ARGUMENT);
    expect_message();
    return;
  }
  EXPECT(result == OSCNET_OK);
  h->fresh_sums = true;
}

void do_handle_sizes(FuzzedDataProvider& in) {
  const HandleModel* h = pick_handle(in);
  EXPECT(oscnet_input_size(net_of(h)) == (h ? h->inputs : -1));
  EXPECT(oscnet_output_size(net_of(h)) == (h ? h->outputs : -1));
  EXPECT(oscnet_weights_count(net_of(h)) == (h ? h->params : -1));
}

}  // namespace fuzz
