// The combined progress of several runs, as a pipe shows it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "trainer/runs_progress.h"

namespace trainer {
namespace {

struct Shown {
  int runs_done;
  int runs;
  int percent;
};

// Drives `progress` as `threads` threads training `runs` runs of `epochs` epochs would, each
// epoch taking `step` of a clock the test moves, and returns what it printed, line by line.
std::vector<std::string> drive(ProgressStyle style, std::size_t runs, int epochs, unsigned threads,
                               std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  {
    // Read under the progress's lock, so by one thread at a time.
    ProgressClock::time_point time;
    RunsProgress progress(style, file, runs, epochs, [&] { return time += step; });
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        for (std::size_t run = t; run < runs; run += threads) {
          for (int epoch = 0; epoch < epochs; ++epoch) progress.epoch_done();
          progress.run_done();
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    progress.finish();
  }
  std::rewind(file);
  std::vector<std::string> lines(1);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(c);
    }
  }
  std::fclose(file);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

std::vector<Shown> parsed(const std::vector<std::string>& lines) {
  const std::regex line(
      R"(runs (\d+)/(\d+) done, (\d+)% of the epochs  elapsed \d+:\d\d  left \d+:\d\d)");
  std::vector<Shown> shown;
  for (const std::string& text : lines) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(text, match, line)) << text;
    if (!match.empty()) {
      shown.push_back({std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3])});
    }
  }
  return shown;
}

TEST(RunsProgress, PlainLinesAtMostOneASecondEndingWithEveryRunDone) {
  for (const unsigned threads : {1u, 3u}) {
    // 7 x 300 epochs of 10 ms: 21 seconds.
    const std::vector<Shown> shown = parsed(drive(ProgressStyle::lines, 7, 300, threads));
    ASSERT_FALSE(shown.empty());
    EXPECT_LE(shown.size(), 23u);
    EXPECT_GE(shown.size(), 21u);
    for (std::size_t i = 1; i < shown.size(); ++i) {
      EXPECT_GE(shown[i].percent, shown[i - 1].percent);
      EXPECT_GE(shown[i].runs_done, shown[i - 1].runs_done);
    }
    for (const Shown& line : shown) EXPECT_EQ(line.runs, 7);
    EXPECT_EQ(shown.back().runs_done, 7);
    EXPECT_EQ(shown.back().percent, 100);
  }
}

TEST(RunsProgress, FewEpochsStillShowEachRunEnding) {
  const std::vector<Shown> shown = parsed(drive(ProgressStyle::lines, 3, 1, 1));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().runs_done, 3);
  EXPECT_EQ(shown.back().percent, 100);
}

TEST(RunsProgress, RunsStoppedEarlyEndAtAHundredPercent) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    RunsProgress progress(ProgressStyle::lines, file, 2, 1000);
    for (int run = 0; run < 2; ++run) {
      for (int epoch = 0; epoch < 10; ++epoch) progress.epoch_done();
      progress.run_done();
    }
    progress.finish();
  }
  std::rewind(file);
  char line[256];
  std::string last;
  while (std::fgets(line, sizeof line, file) != nullptr) last = line;
  std::fclose(file);
  EXPECT_EQ(last.rfind("runs 2/2 done, 100% of the epochs", 0), 0u) << last;
}

TEST(RunsProgress, QuietShowsNothing) {
  EXPECT_TRUE(drive(ProgressStyle::none, 4, 50, 2).empty());
}

TEST(RunsProgress, TheBarIsRedrawnInPlaceWithinEightyColumns) {
  const std::vector<std::string> lines = drive(ProgressStyle::bar, 100000, 2, 1);
  ASSERT_EQ(lines.size(), 1u);  // one line, ended once
  const std::string& text = lines.front();
  EXPECT_EQ(text.rfind("\rruns ", 0), 0u);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t next = text.find('\r', start + 1);
    const std::string redraw =
        text.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
    EXPECT_LT(redraw.size(), 80u) << redraw;
    EXPECT_EQ(redraw.substr(redraw.size() - 3), "\033[K") << redraw;
    start = next == std::string::npos ? text.size() : next;
  }
  EXPECT_NE(text.find("runs 100000/100000 done [####################] 100%"), std::string::npos);
}

}  // namespace
}  // namespace trainer
