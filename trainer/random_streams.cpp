#include "trainer/random_streams.h"

#include <utility>

namespace trainer {

std::mt19937 random_stream(std::uint32_t seed, std::uint32_t purpose) {
  std::seed_seq sequence{seed, purpose};
  return std::mt19937(sequence);
}

std::size_t draw_below(std::mt19937& engine, std::size_t bound) {
  // Draws past the last whole multiple of `bound` are drawn again, or low indexes would be
  // likelier than high ones.
  const std::uint64_t range = std::uint64_t{1} << 32;
  const std::uint64_t limit = range - range % bound;
  std::uint64_t draw = engine();
  while (draw >= limit) draw = engine();
  return static_cast<std::size_t>(draw % bound);
}

void shuffle(std::vector<std::size_t>& order, std::mt19937& engine) {
  for (std::size_t i = order.size(); i > 1; --i)
    std::swap(order[i - 1], order[draw_below(engine, i)]);
}

}  // namespace trainer
