#ifndef OSCNET_TRAINER_TRIMMED_H
#define OSCNET_TRAINER_TRIMMED_H

#include <string_view>

namespace trainer {

/// `text` without leading and trailing spaces and tabs.
inline std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace trainer

#endif
