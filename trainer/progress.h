#ifndef OSCNET_TRAINER_PROGRESS_H
#define OSCNET_TRAINER_PROGRESS_H

#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>

namespace trainer {

enum class ProgressStyle {
  none,   ///< --quiet
  bar,    ///< one line redrawn in place, for a terminal
  lines,  ///< plain lines, at most one a second, for a pipe or a file
};

/// The style for a stream: a bar on a terminal, lines otherwise.
ProgressStyle progress_style_for(std::FILE* stream, bool quiet);

using ProgressClock = std::chrono::steady_clock;
/// Where progress reads the time: the steady clock, or a test's.
using ProgressNow = std::function<ProgressClock::time_point()>;

/// A plain line at most this often: a log gets a line a second, not one per epoch.
constexpr std::chrono::seconds kProgressLineInterval(1);
/// Redrawing a bar more often than this only costs time.
constexpr std::chrono::milliseconds kProgressRedrawInterval(100);

/// Shows training progress: epoch, loss, the validation loss when there is one, and the time
/// left. The last epoch shown is always the last one done.
class Progress {
 public:
  Progress(ProgressStyle style, std::FILE* stream, int epochs,
           ProgressNow now = ProgressClock::now);
  /// `epoch` counts from 1; a not-a-number `validation_loss` is none.
  void epoch_done(int epoch, double loss,
                  double validation_loss = std::numeric_limits<double>::quiet_NaN());
  /// Shows the last epoch if it is not shown yet (training may stop early), and ends the bar's
  /// line.
  void finish();

 private:
  void show(ProgressClock::time_point now);

  ProgressStyle style_;
  std::FILE* stream_;
  int epochs_;
  ProgressNow now_;
  ProgressClock::time_point start_;
  ProgressClock::time_point last_shown_;
  bool shown_ = false;    // anything at all
  bool pending_ = false;  // an epoch done but not shown
  int epoch_ = 0;
  double loss_ = 0.0;
  double validation_loss_ = 0.0;
};

/// "0:07", "1:02:03": whole seconds as minutes or hours.
void format_duration(double seconds, char* out, std::size_t size);

}  // namespace trainer

#endif
