#ifndef OSCNET_TRAINER_SHORTENED_H
#define OSCNET_TRAINER_SHORTENED_H

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "trainer/work_counter.h"

namespace trainer {

inline bool is_continuation_byte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

/// Characters of UTF-8 `text`: continuation bytes take no column.
inline std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (const char c : text) width += is_continuation_byte(c) ? 0 : 1;
  return width;
}

/// `text`, or when it is wider than `limit` characters its start cut at a character boundary
/// and ended with "...", so that a long file or column name keeps to its place. Looks at no
/// more than the first `limit` + 1 characters, however long the text.
inline std::string shortened(std::string_view text, std::size_t limit,
                             WorkCounter* counter = nullptr) {
  const std::size_t keep = limit > 3 ? limit - 3 : 0;
  std::size_t width = 0;
  std::size_t cut = text.size();  // where the character after the first `keep` ones starts
  for (std::size_t i = 0; i < text.size(); ++i) {
    count_work(counter);
    if (is_continuation_byte(text[i])) continue;
    if (width == keep) cut = std::min(cut, i);
    if (++width > limit) {
      std::string_view start = text.substr(0, cut);
      // A lead byte left without its continuation bytes is no character.
      while (!start.empty() && (static_cast<unsigned char>(start.back()) & 0xC0) == 0xC0) {
        start.remove_suffix(1);
      }
      return std::string(start) + "...";
    }
  }
  return std::string(text);
}

}  // namespace trainer

#endif
