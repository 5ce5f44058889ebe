#include "trainer/runs_progress.h"

#include <string>

namespace trainer {
namespace {

constexpr int kBarWidth = 20;
constexpr std::chrono::milliseconds kRedrawInterval(100);

}  // namespace

RunsProgress::RunsProgress(ProgressStyle style, std::FILE* stream, std::size_t runs, int epochs)
    : style_(style),
      stream_(stream),
      runs_(runs),
      total_epochs_(static_cast<std::uint64_t>(runs) * static_cast<std::uint64_t>(epochs)),
      start_(Clock::now()),
      last_draw_(start_) {}

void RunsProgress::epoch_done() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++epochs_done_;
  show(false);
}

void RunsProgress::run_done() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++runs_done_;
  show(runs_done_ == runs_);
}

void RunsProgress::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (style_ == ProgressStyle::bar && drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  drawn_ = false;
}

void RunsProgress::show(bool last) {
  if (style_ == ProgressStyle::none || total_epochs_ == 0) return;
  const double done = static_cast<double>(epochs_done_) / static_cast<double>(total_epochs_);
  const int percent = static_cast<int>(done * 100.0);
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  char elapsed_text[32];
  char left_text[32];
  format_duration(elapsed, elapsed_text, sizeof elapsed_text);
  format_duration(done > 0.0 ? elapsed / done * (1.0 - done) : 0.0, left_text, sizeof left_text);

  if (style_ == ProgressStyle::lines) {
    // A line per whole percent, and one when the last run ends: at most about a hundred.
    if (percent <= percent_shown_ && !last) return;
    percent_shown_ = percent;
    std::fprintf(stream_, "runs %zu/%zu done, %d%% of the epochs  elapsed %s  left %s\n",
                 runs_done_, runs_, percent, elapsed_text, left_text);
    std::fflush(stream_);
    return;
  }
  if (drawn_ && !last && now - last_draw_ < kRedrawInterval) return;
  last_draw_ = now;
  drawn_ = true;
  const int filled = static_cast<int>(done * kBarWidth);
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  // Under 80 columns, as the single run's bar: a line that wraps cannot be redrawn in place.
  std::fprintf(stream_, "\rruns %zu/%zu done [%s] %3d%% %s left\033[K", runs_done_, runs_,
               bar.c_str(), percent, left_text);
  std::fflush(stream_);
}

}  // namespace trainer
