#include "trainer/activation.h"

namespace trainer {
namespace {

struct Entry {
  Activation activation;
  const char* name;
  int code;
};

// None is any code outside 0..3; -1 is the one the other hosts use too.
constexpr Entry kEntries[] = {{Activation::relu, "relu", 0},
                              {Activation::sigmoid, "sigmoid", 1},
                              {Activation::tanh, "tanh", 2},
                              {Activation::lee, "lee", 3},
                              {Activation::none, "none", -1}};

const Entry& entry_of(Activation activation) {
  for (const Entry& entry : kEntries) {
    if (entry.activation == activation) return entry;
  }
  return kEntries[4];
}

}  // namespace

int activation_code(Activation activation) {
  return entry_of(activation).code;
}

const char* activation_name(Activation activation) {
  return entry_of(activation).name;
}

std::optional<Activation> activation_from_name(std::string_view name) {
  for (const Entry& entry : kEntries) {
    if (name == entry.name) return entry.activation;
  }
  return std::nullopt;
}

const char* activation_names() {
  return "relu, sigmoid, tanh, lee or none";
}

}  // namespace trainer
