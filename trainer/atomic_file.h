#ifndef OSCNET_TRAINER_ATOMIC_FILE_H
#define OSCNET_TRAINER_ATOMIC_FILE_H

#include <string>
#include <string_view>

namespace trainer {

/// A file written under a temporary name beside its destination (`path`, or the file a
/// symbolic link at `path` names), flushed to the disk and renamed over it on commit(), so
/// that any failure leaves the earlier file as it was and no temporary file behind: a full
/// disk, a file size limit (SIGXFSZ is ignored while the file is open, so the write fails
/// with EFBIG instead of killing the program), SIGINT, SIGTERM or SIGHUP (the temporary file is
/// removed before the signal takes its usual course), or an exception.
///
/// One at a time: the signal handlers know of one temporary file.
class AtomicFile {
 public:
  /// Creates the temporary file; throws std::runtime_error "cannot write PATH: reason".
  explicit AtomicFile(const std::string& path);
  /// Removes the temporary file unless committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(std::string_view text);
  /// Flushes, closes and renames the file over its destination.
  void commit();

  const std::string& temporary_path() const { return temporary_; }

 private:
  [[noreturn]] void fail(const std::string& reason);
  void discard() noexcept;

  std::string path_;
  std::string destination_;
  std::string temporary_;
  int descriptor_ = -1;
};

}  // namespace trainer

#endif
