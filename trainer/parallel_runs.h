#ifndef OSCNET_TRAINER_PARALLEL_RUNS_H
#define OSCNET_TRAINER_PARALLEL_RUNS_H

#include <atomic>
#include <cstddef>
#include <functional>

namespace trainer {

/// The threads to use for `runs` runs when the user asks for `jobs` (0: one per core): never
/// more than the runs, never fewer than one.
unsigned thread_count(unsigned jobs, std::size_t runs);

/// Runs work(0), ..., work(count - 1) on up to `threads` threads, taking the indexes in
/// increasing order. What each call computes must depend on its index alone for the outcome not
/// to depend on the threads.
///
/// When a call throws, no call of a higher index starts, and calls of higher indexes already
/// running see abandoned() turn true so that they can stop early. Once every thread has ended,
/// the exception of the lowest index that threw is rethrown: the same one whatever the threads.
class ParallelRuns {
 public:
  ParallelRuns(std::size_t count, unsigned threads);

  void run(const std::function<void(std::size_t index)>& work);

  /// True when a call of a lower index than `index` has thrown: its outcome will not be used.
  bool abandoned(std::size_t index) const { return index > first_failure_.load(); }

 private:
  void work_through(const std::function<void(std::size_t)>& work);

  std::size_t count_;
  unsigned threads_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> first_failure_;
};

}  // namespace trainer

#endif
