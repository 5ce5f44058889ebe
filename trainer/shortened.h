#ifndef OSCNET_TRAINER_SHORTENED_H
#define OSCNET_TRAINER_SHORTENED_H

#include <cstddef>
#include <string>

namespace trainer {

/// Characters of UTF-8 `text`: continuation bytes take no column.
inline std::size_t display_width(const std::string& text) {
  std::size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

/// `text`, or when it is wider than `limit` characters its start cut at a character boundary
/// and ended with "...", so that a long file or column name keeps to its place.
inline std::string shortened(const std::string& text, std::size_t limit) {
  if (display_width(text) <= limit) return text;
  std::string out = text;
  // Dropping a lead byte drops its character; continuation bytes go with it.
  while (!out.empty() && display_width(out) > limit - 3) out.pop_back();
  while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0xC0) out.pop_back();
  return out + "...";
}

}  // namespace trainer

#endif
