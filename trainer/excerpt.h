#ifndef OSCNET_TRAINER_EXCERPT_H
#define OSCNET_TRAINER_EXCERPT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace trainer {

/// How much of a bad cell or key a message quotes.
constexpr std::size_t kExcerptBytes = 40;

/// The start of `text` fit to quote in a one-line message: at most `limit` bytes of it, cut
/// at a character boundary and ended with "..." when cut, with NUL, control bytes and
/// backslashes escaped (\0, \t, \n, \r, \x1b, \\). Looks at no more than `limit` + 4 bytes.
std::string excerpt(std::string_view text, std::size_t limit = kExcerptBytes);

}  // namespace trainer

#endif
