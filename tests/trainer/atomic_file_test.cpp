// Files written whole or not at all: whatever stops a write, the earlier file stays as it was
// and no temporary file is left beside it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "trainer/atomic_file.h"
#include "trainer/input_error.h"
#include "trainer/text_files.h"

namespace trainer {
namespace {
namespace fs = std::filesystem;

const std::string kOldText = "the earlier file, which must survive\n";

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::path(::testing::TempDir()) /
                 ("atomic_file_test_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    path_ = (directory_ / "out.json").string();
    std::ofstream(path_, std::ios::binary) << kOldText;
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::string contents() const {
    std::ifstream stream(path_, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
  }

  // Every name in the directory.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(directory_)) {
      found.push_back(entry.path().filename().string());
    }
    return found;
  }

  // Exits 7 when the write fails and leaves the old file alone, with the reason on stderr.
  void write_beyond_limit() const {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      write_file_atomically(path_, std::string(100000, 'x'));
    } catch (const std::runtime_error& error) {
      std::fprintf(stderr, "%s\n", error.what());
      std::exit(contents() == kOldText && names().size() == 1 ? 7 : 8);
    }
    std::exit(9);
  }

  fs::path directory_;
  std::string path_;
};

TEST_F(AtomicFileTest, ReplacesTheFileWhole) {
  write_file_atomically(path_, "new\n");
  EXPECT_EQ(contents(), "new\n");
  EXPECT_EQ(names(), std::vector<std::string>{"out.json"});
}

TEST_F(AtomicFileTest, AFileNeverCommittedLeavesNothing) {
  {
    AtomicFile file(path_);
    file.write("half of it");
    EXPECT_TRUE(fs::exists(file.temporary_path()));
    EXPECT_EQ(file.temporary_path().rfind(path_ + ".", 0), 0u) << file.temporary_path();
  }
  EXPECT_EQ(contents(), kOldText);
  EXPECT_EQ(names(), std::vector<std::string>{"out.json"});
}

TEST_F(AtomicFileTest, AFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram) {
  // In a child of its own, whose limit the test does not share; SIGXFSZ would kill it.
  EXPECT_EXIT(write_beyond_limit(), ::testing::ExitedWithCode(7),
              "cannot write .*out.json: File too large");
  EXPECT_EQ(contents(), kOldText);
  EXPECT_EQ(names(), std::vector<std::string>{"out.json"});
}

TEST_F(AtomicFileTest, EndingSignalsRemoveTheTemporaryFileAndStillEndTheProgram) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EXIT(
        {
          AtomicFile file(path_);
          file.write("half of it");
          std::raise(signal_number);
          std::exit(0);
        },
        ::testing::KilledBySignal(signal_number), "");
    EXPECT_EQ(contents(), kOldText);
    EXPECT_EQ(names(), std::vector<std::string>{"out.json"}) << strsignal(signal_number);
  }
}

TEST_F(AtomicFileTest, TheSignalsActionsComeBackAfterwards) {
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    AtomicFile file(path_);
    struct sigaction during {};
    ::sigaction(SIGTERM, nullptr, &during);
    EXPECT_NE(during.sa_handler, before.sa_handler);
    file.commit();
  }
  struct sigaction after {};
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  EXPECT_EQ(contents(), "");
}

TEST_F(AtomicFileTest, TheWritabilityCheckLeavesNothingBehind) {
  check_writable(path_, "--save");
  check_writable((directory_ / "new.svg").string(), "--plot");
  EXPECT_EQ(names(), std::vector<std::string>{"out.json"});
  EXPECT_EQ(contents(), kOldText);
}

}  // namespace
}  // namespace trainer
