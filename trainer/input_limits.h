#ifndef OSCNET_TRAINER_INPUT_LIMITS_H
#define OSCNET_TRAINER_INPUT_LIMITS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trainer {

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

/// Defaults, each raised by an option: a file that is larger, or a line that is longer, is
/// refused before the memory to hold it is taken.
constexpr std::uint64_t kDefaultMaxDataFileSize = 1 * kGiB;
/// Room for about twelve million weights as this program writes them (some 21 bytes each).
constexpr std::uint64_t kDefaultMaxWeightsFileSize = 256 * kMiB;
constexpr std::size_t kDefaultMaxLineLength = 1 * kMiB;
/// Far beyond any number, and beyond any column name worth showing.
constexpr std::size_t kMaxCellLength = 64 * kKiB;

/// The options that raise the limits.
constexpr const char* kMaxFileSizeOption = "--max-file-size";
constexpr const char* kMaxLineLengthOption = "--max-line-length";

/// What a reader takes before it refuses its input.
struct InputLimits {
  std::uint64_t max_file_size = kDefaultMaxDataFileSize;
  std::size_t max_line_length = kDefaultMaxLineLength;
  std::size_t max_cell_length = kMaxCellLength;
};

/// "64 KiB", "1 GiB", or "1000 bytes": a size as a message gives it.
std::string size_text(std::uint64_t bytes);

/// Reads a size in bytes, with an optional suffix K, M or G (powers of 1024), from 1 up to
/// 2^50 bytes; throws InputError naming `option` otherwise.
std::uint64_t parse_size(std::string_view option, std::string_view text);

}  // namespace trainer

#endif
