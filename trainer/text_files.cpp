#include "trainer/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "trainer/input_error.h"

namespace trainer {
namespace fs = std::filesystem;
namespace {

// Where writing `path` really lands: through a symbolic link to the file it names.
fs::path destination(const std::string& path) {
  std::error_code error;
  if (fs::is_symlink(path, error)) {
    const fs::path target = fs::weakly_canonical(fs::absolute(path), error);
    if (!error) return target;
  }
  return path;
}

fs::path directory_of(const fs::path& path) {
  const fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// A new file beside `path`, made so that it cannot be any existing file; returns its
// descriptor and name, or -1 with errno set.
int create_beside(const fs::path& path, std::string& name) {
  std::vector<char> pattern;
  const std::string text = path.string() + ".XXXXXX";
  pattern.assign(text.begin(), text.end());
  pattern.push_back('\0');
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor >= 0) name = pattern.data();
  return descriptor;
}

}  // namespace

std::string read_text_file(const std::string& path) {
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) {
    throw InputError("cannot read " + path + ": it is a directory");
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw InputError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << stream.rdbuf();
  if (stream.bad()) throw InputError("cannot read " + path + ": " + std::strerror(errno));
  return text.str();
}

void check_writable(const std::string& path, const std::string& option) {
  const fs::path target = destination(path);
  std::error_code ignored;
  if (fs::is_directory(target, ignored)) {
    throw InputError(option + " " + path + ": it is a directory");
  }
  // The file is replaced by renaming a new one over it, which must not happen to a device or
  // a pipe.
  if (fs::exists(target, ignored) && !fs::is_regular_file(target, ignored)) {
    throw InputError(option + " " + path + ": not a regular file");
  }
  const fs::path directory = directory_of(target);
  if (!fs::is_directory(directory, ignored)) {
    throw InputError(option + " " + path + ": the directory " + directory.string() +
                     " does not exist");
  }
  // The file is written beside its destination at the end, so that is what is tried here.
  std::string trial;
  const int descriptor = create_beside(target, trial);
  if (descriptor < 0) {
    throw InputError(option + " " + path + ": cannot write in " + directory.string() + ": " +
                     std::strerror(errno));
  }
  ::close(descriptor);
  ::unlink(trial.c_str());
}

void write_file_atomically(const std::string& path, const std::string& text) {
  const fs::path target = destination(path);
  std::string temporary;
  const auto fail = [&](const std::string& reason) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return std::runtime_error("cannot write " + path + ": " + reason);
  };
  const int descriptor = create_beside(target, temporary);
  if (descriptor < 0) throw fail(std::strerror(errno));
  // mkstemp makes the file private; a saved file gets the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(descriptor, 0666 & ~mask);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = ::write(descriptor, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) {
      const std::string reason = std::strerror(errno);
      ::close(descriptor);
      throw fail(reason);
    }
    written += static_cast<std::size_t>(result);
  }
  // A full disk may show only when the data is written out, at close.
  if (::close(descriptor) != 0) throw fail(std::strerror(errno));
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) throw fail(error.message());
}

}  // namespace trainer
