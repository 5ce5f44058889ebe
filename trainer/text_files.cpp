#include "trainer/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "trainer/atomic_file.h"
#include "trainer/input_error.h"
#include "trainer/input_limits.h"

namespace trainer {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kPieceSize = 64 * 1024;

const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

InputError too_large(const std::string& name, const InputSource& source) {
  return InputError(name + " is larger than the limit of " + size_text(source.max_size) + "; " +
                    source.size_option + " raises it");
}

// Closes the descriptor it opened, not standard input.
class Descriptor {
 public:
  Descriptor(int descriptor, bool owned) : descriptor_(descriptor), owned_(owned) {}
  ~Descriptor() {
    if (owned_ && descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
  bool owned_;
};

}  // namespace

std::string input_name(const std::string& path, const InputSource& source) {
  return source.standard_input_allowed && path == "-" ? "standard input" : path;
}

void read_input(const std::string& path, const InputSource& source,
                const std::function<void(std::string_view piece)>& consume) {
  const std::string name = input_name(path, source);
  const bool standard_input = name != path;
  // Without O_NONBLOCK, opening a pipe nobody writes to would wait for a writer forever.
  const Descriptor descriptor(
      standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC),
      !standard_input);
  if (descriptor.get() < 0) throw InputError("cannot read " + name + ": " + std::strerror(errno));
  struct stat status {};
  if (::fstat(descriptor.get(), &status) != 0) {
    throw InputError("cannot read " + name + ": " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw InputError("cannot read " + name + ": it is a directory");
  if (!standard_input) {
    // A pipe or a device can block, or never end (/dev/zero).
    if (!S_ISREG(status.st_mode)) {
      throw InputError("cannot read " + name + ": it is " + kind_of(status.st_mode) +
                       ", not a regular file");
    }
    if (static_cast<std::uint64_t>(status.st_size) > source.max_size) {
      throw too_large(name, source);
    }
    const int flags = ::fcntl(descriptor.get(), F_GETFL);
    if (flags >= 0) ::fcntl(descriptor.get(), F_SETFL, flags & ~O_NONBLOCK);
  }
  // Read in pieces, counting, since a file can grow after it was measured.
  std::vector<char> piece(kPieceSize);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t count = ::read(descriptor.get(), piece.data(), piece.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw InputError("cannot read " + name + ": " + std::strerror(errno));
    if (count == 0) break;
    total += static_cast<std::uint64_t>(count);
    if (total > source.max_size) throw too_large(name, source);
    consume(std::string_view(piece.data(), static_cast<std::size_t>(count)));
  }
}

std::string read_text_file(const std::string& path, const InputSource& source) {
  std::string text;
  read_input(path, source, [&](std::string_view piece) {
    if (text.empty()) {
      // Sized once for a regular file, so that the text takes no more than itself.
      struct stat status {};
      if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
          static_cast<std::uint64_t>(status.st_size) <= source.max_size) {
        text.reserve(static_cast<std::size_t>(status.st_size));
      }
    }
    text.append(piece);
  });
  return text;
}

void check_writable(const std::string& path, const std::string& option) {
  std::error_code ignored;
  fs::path target = path;
  if (fs::is_symlink(target, ignored)) {
    target = fs::weakly_canonical(fs::absolute(target), ignored);
  }
  if (fs::is_directory(target, ignored)) {
    throw InputError(option + " " + path + ": it is a directory");
  }
  // The file is replaced by renaming a new one over it, which must not happen to a device or
  // a pipe.
  if (fs::exists(target, ignored) && !fs::is_regular_file(target, ignored)) {
    throw InputError(option + " " + path + ": not a regular file");
  }
  const fs::path parent = target.parent_path();
  const fs::path directory = parent.empty() ? fs::path(".") : parent;
  if (!fs::is_directory(directory, ignored)) {
    throw InputError(option + " " + path + ": the directory " + directory.string() +
                     " does not exist");
  }
  // The file is written beside its destination at the end, so that is what is tried here.
  try {
    const AtomicFile trial(path);
  } catch (const std::runtime_error&) {
    throw InputError(option + " " + path + ": cannot write in " + directory.string() + ": " +
                     std::strerror(errno));
  }
}

void write_file_atomically(const std::string& path, std::string_view text) {
  AtomicFile file(path);
  file.write(text);
  file.commit();
}

}  // namespace trainer
