#ifndef OSCNET_TRAINER_PROGRESS_H
#define OSCNET_TRAINER_PROGRESS_H

#include <chrono>
#include <cstdio>

namespace trainer {

enum class ProgressStyle {
  none,   ///< --quiet
  bar,    ///< one line redrawn in place, for a terminal
  lines,  ///< one plain line per epoch, for a pipe or a file
};

/// The style for a stream: a bar on a terminal, lines otherwise.
ProgressStyle progress_style_for(std::FILE* stream, bool quiet);

/// Shows training progress: epoch, loss and the time left.
class Progress {
 public:
  Progress(ProgressStyle style, std::FILE* stream, int epochs);
  /// `epoch` counts from 1.
  void epoch_done(int epoch, double loss);
  /// Ends the bar's line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  ProgressStyle style_;
  std::FILE* stream_;
  int epochs_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  bool drawn_ = false;
};

/// "0:07", "1:02:03": whole seconds as minutes or hours.
void format_duration(double seconds, char* out, std::size_t size);

}  // namespace trainer

#endif
