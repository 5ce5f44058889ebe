#ifndef OSCNET_TRAINER_RUNS_PROGRESS_H
#define OSCNET_TRAINER_RUNS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "trainer/progress.h"

namespace trainer {

/// Progress of several runs trained side by side, shown as one: runs done, the share of all
/// their epochs done and the time left. Safe to call from the threads training the runs.
class RunsProgress {
 public:
  RunsProgress(ProgressStyle style, std::FILE* stream, std::size_t runs, int epochs);
  /// Some run has finished one more epoch.
  void epoch_done();
  /// Some run has finished all its epochs.
  void run_done();
  /// Ends the bar's line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  void show(bool last);

  std::mutex mutex_;
  ProgressStyle style_;
  std::FILE* stream_;
  std::size_t runs_;
  std::uint64_t total_epochs_;
  std::size_t runs_done_ = 0;
  std::uint64_t epochs_done_ = 0;
  int percent_shown_ = -1;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  bool drawn_ = false;
};

}  // namespace trainer

#endif
