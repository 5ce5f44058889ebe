#ifndef OSCNET_TRAINER_TEXT_FILES_H
#define OSCNET_TRAINER_TEXT_FILES_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace trainer {

/// What an input file may be.
struct InputSource {
  std::uint64_t max_size = 0;           ///< bytes; more is refused
  bool standard_input_allowed = false;  ///< "-" reads standard input
  std::string size_option;              ///< the option that raises max_size, for messages
};

/// How a message names `path`: "standard input" for "-" where that is allowed.
std::string input_name(const std::string& path, const InputSource& source);

/// Hands what `path` holds to `consume`, piece by piece, and never more than max_size bytes in
/// all. Refuses with InputError naming the file: one that cannot be opened, a directory, a pipe,
/// a device or anything else but a regular file (opened without waiting for a writer, so that
/// a pipe nobody writes to is refused at once), and one larger than max_size: a regular file
/// before it is read, standard input once it has given that much.
void read_input(const std::string& path, const InputSource& source,
                const std::function<void(std::string_view piece)>& consume);

/// The whole file, read with read_input.
std::string read_text_file(const std::string& path, const InputSource& source);

/// Throws InputError unless `path` names a file that can be written: a regular file or none,
/// in a directory that exists and is writable. Checked before training, not after it.
void check_writable(const std::string& path, const std::string& option);

/// Writes `text` to `path` through an AtomicFile: all of it, or the earlier file untouched.
/// Throws std::runtime_error saying why it failed.
void write_file_atomically(const std::string& path, std::string_view text);

}  // namespace trainer

#endif
