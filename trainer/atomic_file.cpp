#include "trainer/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace trainer {
namespace fs = std::filesystem;
namespace {

// Signals that end the program, after which no temporary file may remain.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// What the signal handler may touch: a fixed buffer and a flag, nothing that allocates.
char g_temporary[4096];
volatile sig_atomic_t g_temporary_exists = 0;
struct sigaction g_previous[kSignalCount];
struct sigaction g_previous_file_size;
bool g_in_use = false;

extern "C" void remove_temporary_and_resignal(int signal_number) {
  const int saved_errno = errno;
  if (g_temporary_exists != 0) ::unlink(g_temporary);
  g_temporary_exists = 0;
  for (int i = 0; i < kSignalCount; ++i) {
    if (kEndingSignals[i] == signal_number) ::sigaction(signal_number, &g_previous[i], nullptr);
  }
  // Delivered once this handler returns, with the action the program had before.
  ::raise(signal_number);
  errno = saved_errno;
}

// Holds the ending signals back while the temporary file comes into being or goes away, so
// that the handler never sees a file without its name or a name without its file.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kEndingSignals) sigaddset(&set, signal_number);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

void install_handlers() {
  struct sigaction action {};
  action.sa_handler = remove_temporary_and_resignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) {
    ::sigaction(kEndingSignals[i], nullptr, &g_previous[i]);
    // A signal the program ignores (as under nohup) stays ignored.
    if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kEndingSignals[i], &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &g_previous_file_size);
}

void restore_handlers() {
  for (int i = 0; i < kSignalCount; ++i) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
  ::sigaction(SIGXFSZ, &g_previous_file_size, nullptr);
}

// Where writing `path` really lands: through a symbolic link to the file it names.
std::string destination_of(const std::string& path) {
  std::error_code error;
  if (fs::is_symlink(path, error)) {
    const fs::path target = fs::weakly_canonical(fs::absolute(path), error);
    if (!error) return target.string();
  }
  return path;
}

std::string directory_of(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : path_(path), destination_(destination_of(path)) {
  if (g_in_use) throw std::logic_error("one AtomicFile at a time");
  const std::string pattern = destination_ + ".XXXXXX";
  if (pattern.size() >= sizeof g_temporary) {
    throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(ENAMETOOLONG));
  }
  int error = 0;
  {
    const SignalsHeld held;
    install_handlers();
    std::memcpy(g_temporary, pattern.c_str(), pattern.size() + 1);
    descriptor_ = ::mkstemp(g_temporary);
    if (descriptor_ >= 0) {
      g_temporary_exists = 1;
      temporary_ = g_temporary;
      g_in_use = true;
    } else {
      error = errno;
      restore_handlers();
    }
  }
  if (descriptor_ < 0) {
    const std::string message = "cannot write " + path_ + ": " + std::strerror(error);
    errno = error;  // for a caller that words its own message
    throw std::runtime_error(message);
  }
  // mkstemp makes the file private; a saved file gets the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(descriptor_, 0666 & ~mask);
}

AtomicFile::~AtomicFile() {
  discard();
}

void AtomicFile::discard() noexcept {
  if (!g_in_use || temporary_.empty()) return;
  const SignalsHeld held;
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  if (g_temporary_exists != 0) ::unlink(g_temporary);
  g_temporary_exists = 0;
  restore_handlers();
  g_in_use = false;
  temporary_.clear();
}

void AtomicFile::fail(const std::string& reason) {
  discard();
  throw std::runtime_error("cannot write " + path_ + ": " + reason);
}

void AtomicFile::write(std::string_view text) {
  if (descriptor_ < 0) throw std::logic_error("AtomicFile written after commit");
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = ::write(descriptor_, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) fail(std::strerror(errno));
    written += static_cast<std::size_t>(result);
  }
}

void AtomicFile::commit() {
  if (descriptor_ < 0) throw std::logic_error("AtomicFile committed twice");
  // A full disk may show only when the data is written out: at fsync, or at close.
  if (::fsync(descriptor_) != 0) fail(std::strerror(errno));
  const int descriptor = descriptor_;
  descriptor_ = -1;
  if (::close(descriptor) != 0) fail(std::strerror(errno));
  {
    const SignalsHeld held;
    if (::rename(g_temporary, destination_.c_str()) != 0) {
      const int error = errno;
      descriptor_ = -1;
      fail(std::strerror(error));
    }
    g_temporary_exists = 0;
    restore_handlers();
    g_in_use = false;
    temporary_.clear();
  }
  // The rename itself lasts once the directory is flushed; a directory that cannot be opened
  // for that still holds the file.
  const int directory = ::open(directory_of(destination_).c_str(), O_RDONLY | O_DIRECTORY);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
}

}  // namespace trainer
