#include "trainer/cell_number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace trainer {

CellKind read_number(std::string_view text, double& value, WorkCounter* counter) {
  count_work(counter, text.size() + 1);
  if (text.empty()) return CellKind::empty;
  // from_chars takes no plus sign; a sign followed by another sign stays an error below.
  if (text.front() == '+' && text.size() > 1 && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return CellKind::text;
  if (error == std::errc::result_out_of_range) {
    // Below the smallest double rounds to zero, as any reader would; above the largest is
    // refused rather than read as infinity.
    value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(value) ? CellKind::number : CellKind::out_of_range;
  }
  if (error != std::errc()) return CellKind::text;
  return std::isfinite(value) ? CellKind::number : CellKind::not_finite;
}

}  // namespace trainer
