#ifndef OSCNET_TRAINER_INPUT_ERROR_H
#define OSCNET_TRAINER_INPUT_ERROR_H

#include <stdexcept>
#include <string>

namespace trainer {

/// Something the user gave (an option, a data file, a weights file) that cannot be used; the
/// message says what and where, and the program exits with status 2.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace trainer

#endif
