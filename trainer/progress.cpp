#include "trainer/progress.h"

#include <cmath>
#include <string>

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
namespace {

constexpr int kBarWidth = 20;
// Redrawing more often than this only costs time.
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

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

Progress::Progress(ProgressStyle style, std::FILE* stream, int epochs)
    : style_(style), stream_(stream), epochs_(epochs), start_(Clock::now()), last_draw_(start_) {}

void Progress::epoch_done(int epoch, double loss) {
  if (style_ == ProgressStyle::none) return;
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double left = elapsed / epoch * (epochs_ - epoch);
  char elapsed_text[32];
  char left_text[32];
  format_duration(elapsed, elapsed_text, sizeof elapsed_text);
  format_duration(left, left_text, sizeof left_text);

  if (style_ == ProgressStyle::lines) {
    std::fprintf(stream_, "epoch %d/%d  loss %.4e  elapsed %s  left %s\n", epoch, epochs_, loss,
                 elapsed_text, left_text);
    return;
  }
  if (drawn_ && epoch < epochs_ && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  drawn_ = true;
  const int filled = static_cast<int>(static_cast<long long>(kBarWidth) * epoch / epochs_);
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  // \r returns to the start of the line and ESC [K clears the rest of it. Kept under 80
  // columns, since a line that wraps cannot be redrawn in place.
  std::fprintf(stream_, "\repoch %d/%d [%s] loss %.3e %s left\033[K", epoch, epochs_, bar.c_str(),
               loss, left_text);
  std::fflush(stream_);
}

void Progress::finish() {
  if (style_ == ProgressStyle::bar && drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
}

}  // namespace trainer
