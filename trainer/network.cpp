#include "trainer/network.h"

#include <climits>
#include <stdexcept>
#include <string>

#include "oscnet.h"
#include "trainer/input_error.h"

namespace trainer {

Network::Network(int inputs, int outputs, const std::vector<HiddenLayer>& layers,
                 const double* input, const double* target) {
  std::vector<int> units;
  std::vector<int> codes;
  for (const HiddenLayer& layer : layers) {
    units.push_back(layer.units);
    codes.push_back(activation_code(layer.activation));
  }
  layout_.widths.push_back(inputs);
  layout_.widths.insert(layout_.widths.end(), units.begin(), units.end());
  layout_.widths.push_back(outputs);
  // The weights exports count in ints.
  if (layout_.count() > static_cast<std::size_t>(INT_MAX)) {
    throw InputError("these layers need more weights than this program can keep (" +
                     std::to_string(INT_MAX) + " at most)");
  }
  int layer_count = static_cast<int>(layers.size());
  // build_net takes every argument by pointer and reads no further than the counts say.
  if (!build_net(&layer_count, &inputs, &outputs, const_cast<double*>(input),
                 const_cast<double*>(target), units.data(), codes.data())) {
    throw InputError("the library refused to build a network of " + std::to_string(inputs) +
                     " inputs, these layers and " + std::to_string(outputs) +
                     " outputs: it is too large for this machine's memory");
  }
  if (static_cast<std::size_t>(oscnet_param_count()) != layout_.count()) {
    release_net();
    throw std::logic_error("the library's weight count differs from the layers built");
  }
}

Network::~Network() {
  release_net();
}

std::vector<double> Network::params() const {
  std::vector<double> values(layout_.count());
  oscnet_get_params(values.data(), static_cast<int>(values.size()));
  return values;
}

void Network::set_params(const std::vector<double>& params) {
  if (oscnet_set_params(params.data(), static_cast<int>(params.size())) < 0) {
    throw std::logic_error("the library refused " + std::to_string(params.size()) + " weights");
  }
}

double Network::train(const double* input, const double* target, int iterations,
                      double learning_rate, int optimizer_code) {
  return ::train(layout_.widths.front(), layout_.widths.back(), const_cast<double*>(input),
                 const_cast<double*>(target), iterations, &learning_rate, &optimizer_code);
}

void Network::predict(const double* input, double* output) const {
  Predict(layout_.widths.front(), layout_.widths.back(), const_cast<double*>(input), output);
}

}  // namespace trainer
