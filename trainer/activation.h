#ifndef OSCNET_TRAINER_ACTIVATION_H
#define OSCNET_TRAINER_ACTIVATION_H

#include <optional>
#include <string_view>

namespace trainer {

enum class Activation { relu, sigmoid, tanh, lee, none };

/// The code build_net takes for the activation.
int activation_code(Activation activation);
/// The name used on the command line and in weights files.
const char* activation_name(Activation activation);
/// The activation of a name, if it is one of relu, sigmoid, tanh, lee, none.
std::optional<Activation> activation_from_name(std::string_view name);
/// "relu, sigmoid, tanh, lee or none", for messages.
const char* activation_names();

/// One hidden layer: its width and what follows it.
struct HiddenLayer {
  int units = 0;
  Activation activation = Activation::none;
  bool operator==(const HiddenLayer& other) const {
    return units == other.units && activation == other.activation;
  }
};

}  // namespace trainer

#endif
