#ifndef OSCNET_TRAINER_COUNTED_H
#define OSCNET_TRAINER_COUNTED_H

#include <cstddef>
#include <string>

namespace trainer {

/// "1 row", "2 rows": a count and its noun, plural unless one.
inline std::string counted(std::size_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace trainer

#endif
