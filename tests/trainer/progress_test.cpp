// A single run's progress on a clock the test moves: how many lines a pipe gets, and what
// they say.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "trainer/progress.h"

namespace trainer {
namespace {

// A clock that moves by `step` each time it is read.
ProgressNow ticking(std::chrono::milliseconds step) {
  auto now = std::make_shared<ProgressClock::time_point>();
  return [now, step] { return *now += step; };
}

std::string read_back(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (const char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// The epochs a run of `epochs` epochs shows when it stops after `done` of them, as lines.
std::vector<int> epochs_shown(int epochs, int done, std::chrono::milliseconds step,
                              double validation_loss = std::nan("")) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  Progress progress(ProgressStyle::lines, file, epochs, ticking(step));
  for (int epoch = 1; epoch <= done; ++epoch) progress.epoch_done(epoch, 0.5, validation_loss);
  progress.finish();
  const std::regex line(
      R"(epoch (\d+)/(\d+)  loss 5\.0000e-01(  validation loss 2\.5000e-01)?  elapsed \d+:\d\d  left \d+:\d\d)");
  std::vector<int> shown;
  for (const std::string& text : split_lines(read_back(file))) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(text, match, line)) << text;
    if (match.empty()) continue;
    EXPECT_EQ(std::stoi(match[2]), epochs);
    EXPECT_EQ(match[3].matched, !std::isnan(validation_loss)) << text;
    shown.push_back(std::stoi(match[1]));
  }
  return shown;
}

TEST(Progress, APipeGetsAtMostALineASecondAndTheLastEpoch) {
  // 2000 epochs of 10 ms: 20 seconds.
  const std::vector<int> shown = epochs_shown(2000, 2000, std::chrono::milliseconds(10));
  ASSERT_GE(shown.size(), 20u);
  EXPECT_LE(shown.size(), 22u);
  EXPECT_EQ(shown.front(), 1);
  EXPECT_EQ(shown.back(), 2000);
  for (std::size_t i = 1; i + 1 < shown.size(); ++i) {
    EXPECT_GE(shown[i] - shown[i - 1], 100) << "lines less than a second apart";
  }
}

TEST(Progress, SlowEpochsEachGetALine) {
  const std::vector<int> shown = epochs_shown(5, 5, std::chrono::milliseconds(1500));
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(Progress, TrainingStoppedEarlyShowsTheEpochItStoppedAt) {
  const std::vector<int> shown = epochs_shown(2000, 1234, std::chrono::milliseconds(10));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), 1234);
  EXPECT_LE(shown.size(), 14u);
}

TEST(Progress, TheValidationLossIsShownWhenThereIsOne) {
  EXPECT_EQ(epochs_shown(3, 3, std::chrono::milliseconds(2000), 0.25).size(), 3u);
}

TEST(Progress, QuietShowsNothing) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  Progress progress(ProgressStyle::none, file, 10, ticking(std::chrono::milliseconds(1000)));
  for (int epoch = 1; epoch <= 10; ++epoch) progress.epoch_done(epoch, 1.0);
  progress.finish();
  EXPECT_EQ(read_back(file), "");
}

TEST(Progress, TheBarIsRedrawnInPlaceAtMostTenTimesASecondWithinEightyColumns) {
  for (const double validation : {std::nan(""), 1.25e-3}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int epochs = 1000000;
    {
      // 1 ms an epoch: 1000 seconds.
      Progress progress(ProgressStyle::bar, file, epochs, ticking(std::chrono::milliseconds(1)));
      for (int epoch = 1; epoch < epochs; ++epoch) progress.epoch_done(epoch, 0.5, validation);
      progress.epoch_done(epochs, -1.5e-300, validation);
      progress.finish();
    }
    const std::vector<std::string> lines = split_lines(read_back(file));
    ASSERT_EQ(lines.size(), 1u);  // one line, ended once
    std::size_t redraws = 0;
    std::size_t start = 0;
    const std::string& text = lines.front();
    while (start < text.size()) {
      const std::size_t next = text.find('\r', start + 1);
      const std::string redraw =
          text.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
      EXPECT_LT(redraw.size(), 80u) << redraw;
      ++redraws;
      start = next == std::string::npos ? text.size() : next;
    }
    EXPECT_LE(redraws, 10002u);
    EXPECT_GE(redraws, 9000u);
    EXPECT_NE(text.find("epoch 1000000/1000000 ["), std::string::npos);
    EXPECT_EQ(text.find("val ") != std::string::npos, !std::isnan(validation));
  }
}

}  // namespace
}  // namespace trainer
