// Running out of memory inside the library, at every allocation a call makes: the global
// operator new is replaced by one that throws on the k-th call after a reset, and the library is
// driven through its exported functions, so that only the library's own shells stand between the
// exception and this host. Eigen allocates with malloc and is reached by allocation_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "oscnet.h"

namespace {

bool armed = false;
long calls = 0;    // operator new calls since arming
long failing = 0;  // the call that fails
long live = 0;     // blocks from operator new not yet deleted

void* allocate(std::size_t size, std::size_t alignment = 0) {
  if (armed && ++calls == failing) throw std::bad_alloc();
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment > sizeof(void*)) {
    if (posix_memalign(&block, alignment, size) != 0) block = nullptr;
  } else {
    block = std::malloc(size);
  }
  if (block == nullptr) throw std::bad_alloc();
  ++live;
  return block;
}

void* allocate_or_null(std::size_t size, std::size_t alignment = 0) noexcept {
  try {
    return allocate(size, alignment);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void deallocate(void* block) noexcept {
  if (block == nullptr) return;
  --live;
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate_or_null(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate_or_null(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_or_null(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_or_null(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept {
  deallocate(block);
}
void operator delete[](void* block) noexcept {
  deallocate(block);
}
void operator delete(void* block, std::size_t) noexcept {
  deallocate(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  deallocate(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  deallocate(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  deallocate(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  deallocate(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  deallocate(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  deallocate(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  deallocate(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  deallocate(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  deallocate(block);
}

namespace {

constexpr unsigned kDrawSeed = 99;  // the oscillator draws with rand(): seeded, they repeat

// Runs `call` with the k-th allocation failing; returns whether the call reached allocation k.
template <typename Call>
bool failing_at(long k, Call call) {
  calls = 0;
  failing = k;
  armed = true;
  call();
  armed = false;
  return calls >= k;
}

// A network with every activation, and another one to fall back on.
struct Description {
  int layers, inputs, outputs;
  std::vector<int> units, codes;
  std::vector<double> x, y;
  bool build() {
    return build_net(&layers, &inputs, &outputs, x.data(), y.data(), units.data(), codes.data());
  }
};

Description every_activation() {
  return {5, 3, 2, {4, 3, 5, 2, 3}, {0, 1, 2, 3, 4}, {0.3, -0.6, 0.9}, {0.25, -0.5}};
}
Description fallback() {
  return {2, 2, 3, {6, 2}, {3, 1}, {-0.4, 0.8}, {0.1, 0.2, 0.3}};
}

// What a failed call must leave: the weights, the outputs on the current inputs, the held loss.
struct State {
  int count = 0;
  std::vector<double> params, outputs;
  double held = 0.0;
  bool operator==(const State& o) const {
    auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0;
    };
    return count == o.count && same(params, o.params) && same(outputs, o.outputs) &&
           (held == o.held || (std::isnan(held) && std::isnan(o.held)));
  }
};

State state(int outputs) {
  State s;
  s.count = oscnet_param_count();
  s.params.resize(s.count);
  EXPECT_EQ(oscnet_get_params(s.params.data(), s.count), s.count);
  s.outputs.assign(outputs, -7.0);
  std::srand(kDrawSeed);
  Predict(0, outputs, nullptr, s.outputs.data());
  double rate = 0.1;
  int code = 0;
  s.held = train(0, 0, nullptr, nullptr, 0, &rate, &code);
  return s;
}

double train_seeded(Description& d, int iterations, double rate, int code) {
  std::srand(kDrawSeed);
  return train(d.inputs, d.outputs, d.x.data(), d.y.data(), iterations, &rate, &code);
}

// Runs `body` on a thread of its own, whose per-thread storage starts empty.
template <typename Body>
void on_new_thread(Body body) {
  std::thread(body).join();
}

TEST(OperatorNewFailure, ABuildThatRunsOutKeepsTheNetworkAndLeavesNothing) {
  // The first pass runs before anything else in the process has made the oscillator table.
  for (int pass = 0; pass < 2; ++pass) {
    Description kept = fallback(), wanted = every_activation();
    ASSERT_TRUE(kept.build());
    train_seeded(kept, 3, 0.1, 1);
    const State before = state(kept.outputs);
    long k = 1;
    for (;; ++k) {
      const long blocks = live;
      bool built = false;
      if (!failing_at(k, [&] { built = wanted.build(); })) {
        EXPECT_TRUE(built) << "no failure at " << k;
        break;
      }
      ASSERT_FALSE(built) << "allocation " << k << " failed";
      EXPECT_EQ(live, blocks) << "allocation " << k << " failed";
      ASSERT_TRUE(state(kept.outputs) == before) << "allocation " << k << " failed";
    }
    // 32 nodes, the parameter list and the walks' stacks: each was made to fail once.
    EXPECT_GT(k, 32);
    EXPECT_EQ(oscnet_param_count(),
              4 * 3 + 4 + 3 * 4 + 3 + 5 * 3 + 5 + 2 * 5 + 2 + 3 * 2 + 3 + 3 * 2 + 2);
    EXPECT_TRUE(std::isfinite(train_seeded(wanted, 2, 0.1, 0)));
    release_net();
  }
}

// A failed training call returns not-a-number, changes nothing, and the next call gives exactly
// what it would have given had the failure never happened. Each attempt runs on a new thread, so
// that no per-thread storage survives from an earlier attempt.
TEST(OperatorNewFailure, TrainingThatRunsOutChangesNothing) {
  for (int code : {0, 1}) {
    Description d = every_activation();
    ASSERT_TRUE(d.build());
    std::vector<double> start(oscnet_param_count());
    oscnet_get_params(start.data(), static_cast<int>(start.size()));
    double reference = 0.0;
    on_new_thread([&] { reference = train_seeded(d, 3, 0.05, code); });
    ASSERT_TRUE(std::isfinite(reference));
    const State trained = state(d.outputs);

    long k = 1;
    for (;; ++k) {
      // A fresh network every time: the first call after a build also sizes every gradient.
      ASSERT_TRUE(d.build());
      ASSERT_EQ(oscnet_set_params(start.data(), static_cast<int>(start.size())),
                static_cast<int>(start.size()));
      const State before = state(d.outputs);
      const long blocks = live;
      double loss = 0.0;
      bool reached = false;
      on_new_thread(
          [&] { reached = failing_at(k, [&] { loss = train_seeded(d, 3, 0.05, code); }); });
      if (!reached) {
        EXPECT_EQ(loss, reference) << "no failure at " << k;
        break;
      }
      EXPECT_TRUE(std::isnan(loss)) << "allocation " << k << " failed";
      EXPECT_EQ(live, blocks) << "allocation " << k << " failed";
      ASSERT_TRUE(state(d.outputs) == before) << "allocation " << k << " failed";
      on_new_thread([&] { loss = train_seeded(d, 3, 0.05, code); });
      EXPECT_EQ(loss, reference) << "allocation " << k << " failed";
      EXPECT_TRUE(state(d.outputs) == trained) << "allocation " << k << " failed";
    }
    // At least the optimizer's copy of the parameter list was failed.
    EXPECT_GE(k, 2) << "optimizer " << code;
    release_net();
  }
}

// Predict has nothing to undo, but must not leave the host's old values standing as outputs.
TEST(OperatorNewFailure, PredictionThatRunsOutGivesNotANumber) {
  Description d = every_activation();
  ASSERT_TRUE(d.build());
  std::vector<double> expected(d.outputs);
  std::srand(kDrawSeed);
  Predict(d.inputs, d.outputs, d.x.data(), expected.data());
  long k = 1;
  for (;; ++k) {
    std::vector<double> out(d.outputs + 1, -7.0);
    bool reached = false;
    on_new_thread([&] {
      std::srand(kDrawSeed);
      reached = failing_at(k, [&] { Predict(d.inputs, d.outputs, d.x.data(), out.data()); });
    });
    EXPECT_EQ(out[d.outputs], -7.0);
    if (!reached) {
      EXPECT_EQ(std::memcmp(out.data(), expected.data(), d.outputs * sizeof(double)), 0);
      break;
    }
    for (int j = 0; j < d.outputs; ++j) EXPECT_TRUE(std::isnan(out[j])) << "allocation " << k;
  }
  // Prediction evaluates along storage made by build_net: nothing to fail. Were it to allocate,
  // the loop above would check that each failure gives not-a-number.
  EXPECT_EQ(k, 1);
  release_net();
}

}  // namespace
