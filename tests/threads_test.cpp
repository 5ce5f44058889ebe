// Calls from several threads at once: on networks of their own, and on the one default network.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "api/entry_points.h"
#include "api/handles.h"
#include "api/network_state.h"

namespace oscnet {
namespace {

constexpr int kThreads = 4;

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

std::vector<double> spread_rows(int count, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> spread(-1.5, 1.5);
  std::vector<double> values(count);
  for (double& v : values) v = spread(engine);
  return values;
}

// Creates a network from `seed`, trains and predicts on it, and returns everything it answered
// and its weights at the end.
std::vector<double> own_network_work(unsigned seed) {
  const int units[2] = {24, 12}, codes[2] = {3, 1};
  oscnet_network* net = create_network(6, 3, 2, units, codes, seed);
  std::vector<double> seen;
  if (net == nullptr) return seen;
  const std::vector<double> x = spread_rows(6 * 40, seed), y = spread_rows(3 * 40, seed + 100);
  double out[3 * 40];
  for (int c = 0; c < 40; ++c) {
    seen.push_back(train_handle(net, &x[c * 6], &y[c * 3], 5, 0.02, c % 2));
    predict_handle(net, &x[c * 6], out);
    seen.insert(seen.end(), out, out + 3);
  }
  predict_handle_rows(net, x.data(), 40, out);
  seen.insert(seen.end(), out, out + 3 * 40);
  std::vector<double> weights(handle_weights_count(net));
  get_handle_weights(net, weights.data(), static_cast<int>(weights.size()));
  seen.insert(seen.end(), weights.begin(), weights.end());
  destroy_network(net);
  return seen;
}

TEST(HandleThreads, NetworksOfTheirOwnGiveWhatOneThreadGives) {
  std::vector<std::vector<double>> alone(kThreads), together(kThreads);
  for (int t = 0; t < kThreads; ++t) alone[t] = own_network_work(t + 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&together, t] { together[t] = own_network_work(t + 1); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_FALSE(alone[t].empty());
    EXPECT_TRUE(same_bits(together[t], alone[t])) << "thread " << t;
  }
}

TEST(HandleThreads, OneHandleSharedByThreadsIsSerialised) {
  // Each thread's prediction, and its loss at learning rate 0, depend on its own example only,
  // so, serialised, the calls answer what they answer alone; interleaved inside the network
  // they would mix the threads' examples.
  const int units[1] = {96}, codes[1] = {2};
  oscnet_network* net = create_network(32, 4, 1, units, codes, 5);
  ASSERT_NE(net, nullptr);
  std::vector<std::vector<double>> x(kThreads), y(kThreads), expected(kThreads);
  std::vector<double> loss(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    x[t] = spread_rows(32, t + 10);
    y[t] = spread_rows(4, t + 20);
    expected[t].resize(4);
    predict_handle(net, x[t].data(), expected[t].data());
    loss[t] = train_handle(net, x[t].data(), y[t].data(), 1, 0.0, OSCNET_GRADIENT_DESCENT);
  }
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<double> out(4);
      for (int k = 0; k < 1000; ++k) {
        predict_handle(net, x[t].data(), out.data());
        if (!same_bits(out, expected[t])) ++mismatches;
        const double l =
            train_handle(net, x[t].data(), y[t].data(), 1, 0.0, OSCNET_GRADIENT_DESCENT);
        if (l != loss[t]) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  destroy_network(net);
  EXPECT_EQ(mismatches.load(), 0);
}

// The default network through the five functions' core, on weights that stay fixed: a
// prediction, and a training call at learning rate 0, answer for the calling thread's own example
// whatever order serialised calls run in. Overlapping inside the network, one thread's example
// would be evaluated with another's, and the weights read half written.
TEST(DefaultNetworkThreads, OverlappingCallsAnswerAsSerialCallsDo) {
  int layers = 2, inputs = 8, outputs = 3;
  int units[2] = {32, 16}, codes[2] = {2, 1};
  std::vector<double> x0(8, 0.1), y0(3, 0.0);
  ASSERT_TRUE(build_network(&layers, &inputs, &outputs, x0.data(), y0.data(), units, codes));
  const int count = param_count();
  std::vector<double> weights(count);
  ASSERT_EQ(get_params(weights.data(), count), count);

  const double rate = 0.0;
  const int descent = 0;
  std::vector<std::vector<double>> x(kThreads), y(kThreads), output(kThreads);
  std::vector<double> loss(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    x[t] = spread_rows(8, t + 1);
    y[t] = spread_rows(3, t + 50);
    output[t].resize(3);
    predict(8, 3, x[t].data(), output[t].data());
    loss[t] = train_network(8, 3, x[t].data(), y[t].data(), 1, &rate, &descent);
  }

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<double> out(3), read(count);
      for (int k = 0; k < 1000; ++k) {
        predict(8, 3, x[t].data(), out.data());
        if (!same_bits(out, output[t])) ++mismatches;
        const double l = train_network(8, 3, x[t].data(), y[t].data(), 1, &rate, &descent);
        if (l != loss[t]) ++mismatches;
        if (param_count() != count || get_params(read.data(), count) != count ||
            !same_bits(read, weights)) {
          ++mismatches;
        }
        if (k % 100 == 0 && set_params(weights.data(), count) != count) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  release_network();
  EXPECT_EQ(mismatches.load(), 0);
}

// Builds and releases racing with predictions: each prediction finds either no network (all
// not-a-number) or a whole one (finite outputs), never one half built or half freed.
TEST(DefaultNetworkThreads, RebuildingWhileOthersPredictIsSafe) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      double x[4] = {0.1, 0.2, 0.3, 0.4}, out[2];
      while (!stop) {
        predict(4, 2, x, out);
        const bool none = std::isnan(out[0]) && std::isnan(out[1]);
        const bool whole = std::isfinite(out[0]) && std::isfinite(out[1]);
        if (!none && !whole) ++torn;
      }
    });
  }
  int layers = 1, inputs = 4, outputs = 2, units = 64, code = 0;
  double x[4] = {0}, y[2] = {0};
  for (int k = 0; k < 300; ++k) {
    EXPECT_TRUE(build_network(&layers, &inputs, &outputs, x, y, &units, &code));
    if (k % 2 == 0) release_network();
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();
  release_network();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace oscnet
