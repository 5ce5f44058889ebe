#include "trainer/runs_progress.h"

#include <string>
#include <utility>

namespace trainer {
namespace {

constexpr int kBarWidth = 20;

}  // namespace

RunsProgress::RunsProgress(ProgressStyle style, std::FILE* stream, std::size_t runs, int epochs,
                           ProgressNow now)
    : style_(style),
      stream_(stream),
      runs_(runs),
      total_epochs_(static_cast<std::uint64_t>(runs) * static_cast<std::uint64_t>(epochs)),
      now_(std::move(now)),
      start_(now_()) {}

void RunsProgress::epoch_done() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++epochs_done_;
  update(false);
}

void RunsProgress::run_done() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++runs_done_;
  update(runs_done_ == runs_);
}

void RunsProgress::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (pending_) show(now_());
  if (style_ == ProgressStyle::bar && shown_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  shown_ = false;
}

void RunsProgress::update(bool last) {
  if (style_ == ProgressStyle::none || total_epochs_ == 0) return;
  pending_ = true;
  const ProgressClock::time_point now = now_();
  const auto interval =
      style_ == ProgressStyle::lines
          ? std::chrono::duration_cast<ProgressClock::duration>(kProgressLineInterval)
          : std::chrono::duration_cast<ProgressClock::duration>(kProgressRedrawInterval);
  if (shown_ && !last && now - last_shown_ < interval) return;
  show(now);
}

void RunsProgress::show(ProgressClock::time_point now) {
  last_shown_ = now;
  shown_ = true;
  pending_ = false;
  // Runs stopped early leave epochs undone.
  const double done = runs_done_ == runs_
                          ? 1.0
                          : static_cast<double>(epochs_done_) / static_cast<double>(total_epochs_);
  const int percent = static_cast<int>(done * 100.0);
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  char elapsed_text[32];
  char left_text[32];
  format_duration(elapsed, elapsed_text, sizeof elapsed_text);
  format_duration(done > 0.0 ? elapsed / done * (1.0 - done) : 0.0, left_text, sizeof left_text);

  if (style_ == ProgressStyle::lines) {
    std::fprintf(stream_, "runs %zu/%zu done, %d%% of the epochs  elapsed %s  left %s\n",
                 runs_done_, runs_, percent, elapsed_text, left_text);
    std::fflush(stream_);
    return;
  }
  const int filled = static_cast<int>(done * kBarWidth);
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  // Under 80 columns, as the single run's bar: a line that wraps cannot be redrawn in place.
  std::fprintf(stream_, "\rruns %zu/%zu done [%s] %3d%% %s left\033[K", runs_done_, runs_,
               bar.c_str(), percent, left_text);
  std::fflush(stream_);
}

}  // namespace trainer
