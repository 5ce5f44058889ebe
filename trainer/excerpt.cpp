#include "trainer/excerpt.h"

#include <cstdio>

namespace trainer {

std::string excerpt(std::string_view text, std::size_t limit) {
  std::size_t end = text.size();
  if (end > limit) {
    end = limit;
    // Continuation bytes belong to the character before the cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80 && limit - end < 3) {
      --end;
    }
  }
  std::string out;
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\0':
        out += "\\0";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return end < text.size() ? out + "..." : out;
}

}  // namespace trainer
