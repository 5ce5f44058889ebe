#ifndef OSCNET_TRAINER_RUNS_PROGRESS_H
#define OSCNET_TRAINER_RUNS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "trainer/progress.h"

namespace trainer {

/// Progress of several runs trained side by side, shown as one: runs done, the share of all
/// their epochs done and the time left; as plain lines, at most one a second and the last. Safe to
/// call from the threads training the runs.
class RunsProgress {
 public:
  RunsProgress(ProgressStyle style, std::FILE* stream, std::size_t runs, int epochs,
               ProgressNow now = ProgressClock::now);
  /// Some run has finished one more epoch.
  void epoch_done();
  /// Some run has finished all its epochs.
  void run_done();
  /// Shows the last state if it is not shown yet, and ends the bar's line.
  void finish();

 private:
  void update(bool last);
  void show(ProgressClock::time_point now);

  std::mutex mutex_;
  ProgressStyle style_;
  std::FILE* stream_;
  std::size_t runs_;
  std::uint64_t total_epochs_;
  std::size_t runs_done_ = 0;
  std::uint64_t epochs_done_ = 0;
  ProgressNow now_;
  ProgressClock::time_point start_;
  ProgressClock::time_point last_shown_;
  bool shown_ = false;
  bool pending_ = false;
};

}  // namespace trainer

#endif
