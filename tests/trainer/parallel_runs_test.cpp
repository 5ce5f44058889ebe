// Runs on threads: every index once, the same outcome and the same failure whatever the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "trainer/parallel_runs.h"

namespace trainer {
namespace {

TEST(ThreadCount, NeverMoreThanTheRunsNorFewerThanOne) {
  EXPECT_EQ(thread_count(1, 8), 1u);
  EXPECT_EQ(thread_count(4, 8), 4u);
  EXPECT_EQ(thread_count(4, 3), 3u);
  EXPECT_EQ(thread_count(4, 0), 1u);
  const unsigned cores = thread_count(0, 1000);
  EXPECT_GE(cores, 1u);
  EXPECT_EQ(cores, std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(thread_count(0, 1), 1u);
}

TEST(ParallelRuns, EveryIndexOnceWhateverTheThreads) {
  for (const unsigned threads : {1u, 2u, 3u, 8u}) {
    const std::size_t count = 37;
    std::vector<std::atomic<int>> calls(count);
    std::vector<std::size_t> results(count);
    ParallelRuns(count, threads).run([&](std::size_t index) {
      ++calls[index];
      results[index] = index * index;
    });
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(calls[i], 1) << i << " with " << threads << " threads";
      EXPECT_EQ(results[i], i * i);
    }
  }
}

TEST(ParallelRuns, RunsReallyOverlap) {
  // Each call waits for the other to have started: with two threads both get there, with one
  // they would wait for each other in vain (until the timeout).
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  std::vector<bool> met(2, false);
  ParallelRuns(2, 2).run([&](std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex);
    ++started;
    changed.notify_all();
    met[index] = changed.wait_for(lock, std::chrono::seconds(20), [&] { return started == 2; });
  });
  EXPECT_TRUE(met[0]);
  EXPECT_TRUE(met[1]);
}

TEST(ParallelRuns, NothingToRun) {
  int calls = 0;
  ParallelRuns(0, 4).run([&](std::size_t) { ++calls; });
  EXPECT_EQ(calls, 0);
}

std::string failure_of(ParallelRuns& runs, const std::function<void(std::size_t)>& work) {
  try {
    runs.run(work);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

TEST(ParallelRuns, TheLowestFailingIndexIsReportedEvenWhenItFailsLast) {
  for (const unsigned threads : {1u, 2u, 4u}) {
    ParallelRuns runs(6, threads);
    const std::string message = failure_of(runs, [&](std::size_t index) {
      if (index == 2) {
        // Fails well after index 3 has, when they overlap.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        throw std::runtime_error("run 2");
      }
      if (index == 3) throw std::runtime_error("run 3");
    });
    EXPECT_EQ(message, "run 2") << threads << " threads";
    EXPECT_TRUE(runs.abandoned(3));
    EXPECT_FALSE(runs.abandoned(2));
    EXPECT_FALSE(runs.abandoned(0));
  }
}

TEST(ParallelRuns, NoRunStartsAfterALowerOneFailed) {
  ParallelRuns runs(10, 1);
  std::vector<std::size_t> started;
  const std::string message = failure_of(runs, [&](std::size_t index) {
    started.push_back(index);
    if (index == 4) throw std::runtime_error("run 4");
  });
  EXPECT_EQ(message, "run 4");
  EXPECT_EQ(started, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(ParallelRuns, RunsOfHigherIndexesSeeThemselvesAbandoned) {
  // Run 1 waits, looking at abandoned(), until run 0 fails; runs of lower indexes are never
  // abandoned.
  ParallelRuns runs(2, 2);
  std::atomic<bool> saw_abandoned{false};
  const std::string message = failure_of(runs, [&](std::size_t index) {
    if (index == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      throw std::runtime_error("run 0");
    }
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!runs.abandoned(index) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    saw_abandoned = runs.abandoned(index);
  });
  EXPECT_EQ(message, "run 0");
  EXPECT_TRUE(saw_abandoned);
}

TEST(ParallelRuns, CanRunAgainAfterAFailure) {
  ParallelRuns runs(3, 2);
  EXPECT_EQ(failure_of(runs, [](std::size_t) { throw std::runtime_error("all"); }), "all");
  std::atomic<int> calls{0};
  runs.run([&](std::size_t) { ++calls; });
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(runs.abandoned(2));
}

}  // namespace
}  // namespace trainer
