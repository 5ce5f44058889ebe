#ifndef OSCNET_TRAINER_TEXT_FILES_H
#define OSCNET_TRAINER_TEXT_FILES_H

#include <string>

namespace trainer {

/// The whole file; throws InputError saying why it cannot be read.
std::string read_text_file(const std::string& path);

/// Throws InputError unless `path` names a file that can be written: a regular file or none,
/// in a directory that exists and is writable. Checked before training, not after it.
void check_writable(const std::string& path, const std::string& option);

/// Writes a new file next to `path` and renames it over `path` (or over the file a symbolic
/// link at `path` names), so that a failure leaves any earlier file as it was. Throws
/// std::runtime_error saying why it failed.
void write_file_atomically(const std::string& path, const std::string& text);

}  // namespace trainer

#endif
