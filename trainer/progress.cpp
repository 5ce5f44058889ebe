#include "trainer/progress.h"

#include <cmath>
#include <string>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#define OSCNET_ISATTY _isatty
#define OSCNET_FILENO _fileno
#else
#include <unistd.h>
#define OSCNET_ISATTY isatty
#define OSCNET_FILENO fileno
#endif

namespace trainer {

ProgressStyle progress_style_for(std::FILE* stream, bool quiet) {
  if (quiet) return ProgressStyle::none;
  return OSCNET_ISATTY(OSCNET_FILENO(stream)) ? ProgressStyle::bar : ProgressStyle::lines;
}

void format_duration(double seconds, char* out, std::size_t size) {
  const long total = std::isfinite(seconds) && seconds > 0 ? std::lround(seconds) : 0;
  if (total >= 3600) {
    std::snprintf(out, size, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(out, size, "%ld:%02ld", total / 60, total % 60);
  }
}

Progress::Progress(ProgressStyle style, std::FILE* stream, int epochs, ProgressNow now)
    : style_(style), stream_(stream), epochs_(epochs), now_(std::move(now)), start_(now_()) {}

void Progress::epoch_done(int epoch, double loss, double validation_loss) {
  if (style_ == ProgressStyle::none) return;
  epoch_ = epoch;
  loss_ = loss;
  validation_loss_ = validation_loss;
  pending_ = true;
  const ProgressClock::time_point now = now_();
  const auto interval =
      style_ == ProgressStyle::lines
          ? std::chrono::duration_cast<ProgressClock::duration>(kProgressLineInterval)
          : std::chrono::duration_cast<ProgressClock::duration>(kProgressRedrawInterval);
  if (shown_ && epoch < epochs_ && now - last_shown_ < interval) return;
  show(now);
}

void Progress::show(ProgressClock::time_point now) {
  last_shown_ = now;
  shown_ = true;
  pending_ = false;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  // An upper bound once training may stop early.
  const double left = epoch_ > 0 ? elapsed / epoch_ * (epochs_ - epoch_) : 0.0;
  char elapsed_text[32];
  char left_text[32];
  format_duration(elapsed, elapsed_text, sizeof elapsed_text);
  format_duration(left, left_text, sizeof left_text);
  const bool validation = !std::isnan(validation_loss_);

  if (style_ == ProgressStyle::lines) {
    char validation_text[48] = "";
    if (validation) {
      std::snprintf(validation_text, sizeof validation_text, "  validation loss %.4e",
                    validation_loss_);
    }
    std::fprintf(stream_, "epoch %d/%d  loss %.4e%s  elapsed %s  left %s\n", epoch_, epochs_, loss_,
                 validation_text, elapsed_text, left_text);
    std::fflush(stream_);
    return;
  }
  // Narrower with the validation loss, so that the line stays under 80 columns: a line that
  // wraps cannot be redrawn in place.
  const int width = validation ? 10 : 20;
  const int filled =
      epochs_ > 0 ? static_cast<int>(static_cast<long long>(width) * epoch_ / epochs_) : width;
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(width - filled), '.');
  char validation_text[32] = "";
  if (validation)
    std::snprintf(validation_text, sizeof validation_text, " val %.3e", validation_loss_);
  // \r returns to the start of the line and ESC [K clears the rest of it.
  std::fprintf(stream_, "\repoch %d/%d [%s] loss %.3e%s %s left\033[K", epoch_, epochs_,
               bar.c_str(), loss_, validation_text, left_text);
  std::fflush(stream_);
}

void Progress::finish() {
  if (pending_) show(now_());
  if (style_ == ProgressStyle::bar && shown_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  shown_ = false;
}

}  // namespace trainer
