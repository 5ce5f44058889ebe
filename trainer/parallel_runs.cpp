#include "trainer/parallel_runs.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace trainer {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

}  // namespace

unsigned thread_count(unsigned jobs, std::size_t runs) {
  // hardware_concurrency() may not know, and say 0.
  const unsigned wanted = jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(wanted, runs)));
}

ParallelRuns::ParallelRuns(std::size_t count, unsigned threads)
    : count_(count), threads_(std::max(1u, threads)), first_failure_(kNone) {}

void ParallelRuns::run(const std::function<void(std::size_t)>& work) {
  next_ = 0;
  first_failure_ = kNone;
  std::vector<std::exception_ptr> failures(count_);
  const auto guarded = [&](std::size_t index) {
    try {
      work(index);
    } catch (...) {
      failures[index] = std::current_exception();
      std::size_t first = first_failure_.load();
      while (index < first && !first_failure_.compare_exchange_weak(first, index)) {
      }
    }
  };
  // The calling thread is one of the threads: one job needs no other.
  std::vector<std::thread> helpers;
  try {
    for (unsigned t = 1; t < threads_; ++t) helpers.emplace_back([&] { work_through(guarded); });
  } catch (...) {
    // No more threads to be had: those started and this one do the work.
  }
  work_through(guarded);
  for (std::thread& helper : helpers) helper.join();
  if (first_failure_ != kNone) std::rethrow_exception(failures[first_failure_]);
}

void ParallelRuns::work_through(const std::function<void(std::size_t)>& work) {
  for (;;) {
    const std::size_t index = next_++;
    if (index >= count_ || abandoned(index)) return;
    work(index);
  }
}

}  // namespace trainer
