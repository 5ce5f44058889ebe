#include "trainer/input_limits.h"

#include <charconv>

#include "trainer/excerpt.h"
#include "trainer/input_error.h"

namespace trainer {
namespace {

constexpr std::uint64_t kLargestSize = std::uint64_t{1} << 50;

}  // namespace

std::string size_text(std::uint64_t bytes) {
  const std::pair<std::uint64_t, const char*> units[] = {
      {kGiB, " GiB"}, {kMiB, " MiB"}, {kKiB, " KiB"}};
  for (const auto& [unit, name] : units) {
    if (bytes >= unit && bytes % unit == 0) return std::to_string(bytes / unit) + name;
  }
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::uint64_t parse_size(std::string_view option, std::string_view text) {
  std::uint64_t unit = 1;
  std::string_view digits = text;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        unit = kKiB;
        break;
      case 'M':
      case 'm':
        unit = kMiB;
        break;
      case 'G':
      case 'g':
        unit = kGiB;
        break;
      default:
        break;
    }
    if (unit != 1) digits.remove_suffix(1);
  }
  std::uint64_t count = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      count == 0 || count > kLargestSize / unit) {
    throw InputError(std::string(option) +
                     " must be a size in bytes from 1 to 2^50, with an optional K, M or G "
                     "(1024, 1024^2, 1024^3), as in 2G, not '" +
                     excerpt(text) + "'");
  }
  return count * unit;
}

}  // namespace trainer
