#include "trainer/network.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "trainer/input_error.h"

namespace trainer {
namespace {

// Rows handed to the library at once: enough for its matrix products to pay, few enough that
// a large data set does not need a second copy of itself in the library's memory.
constexpr std::size_t kRowsPerBlock = 1024;

std::runtime_error library_error(const std::string& what) {
  return std::runtime_error(what + ": " + oscnet_last_error());
}

// Whether the library's last failure on this thread was for want of memory: memory running
// out, or a network its estimate finds beyond the memory the process may have. Its messages
// speak of memory for these alone.
bool short_of_memory() {
  return std::strstr(oscnet_last_error(), "memory") != nullptr;
}

}  // namespace

std::string describe_layout(const WeightLayout& layout) {
  std::string text;
  for (const int width : layout.widths)
    text += (text.empty() ? "" : " -> ") + std::to_string(width);
  return text + " units (" + std::to_string(layout.count()) + " weights)";
}

Network::Network(int inputs, int outputs, const std::vector<HiddenLayer>& layers,
                 std::uint32_t seed) {
  std::vector<int> units;
  std::vector<int> codes;
  for (const HiddenLayer& layer : layers) {
    units.push_back(layer.units);
    codes.push_back(activation_code(layer.activation));
  }
  layout_.widths.push_back(inputs);
  layout_.widths.insert(layout_.widths.end(), units.begin(), units.end());
  layout_.widths.push_back(outputs);
  // The weights functions count in ints.
  if (layout_.count() > static_cast<std::size_t>(INT_MAX)) {
    throw InputError("these layers need more weights than this program can keep (" +
                     std::to_string(INT_MAX) + " at most)");
  }
  handle_.reset(oscnet_create(inputs, outputs, static_cast<int>(layers.size()), units.data(),
                              codes.data(), seed));
  if (!handle_ && short_of_memory()) {
    throw OutOfMemory("out of memory creating a network of " + describe_layout(layout_) + ": " +
                      oscnet_last_error());
  }
  if (!handle_) {
    throw InputError("the library refused a network of " + std::to_string(inputs) +
                     " inputs, these layers and " + std::to_string(outputs) +
                     " outputs: " + oscnet_last_error());
  }
  if (static_cast<std::size_t>(oscnet_weights_count(handle_.get())) != layout_.count()) {
    throw std::logic_error("the library's weight count differs from the layers built");
  }
}

std::vector<double> Network::params() const {
  std::vector<double> values(layout_.count());
  if (oscnet_get_weights(handle_.get(), values.data(), static_cast<int>(values.size())) < 0) {
    throw library_error("cannot read the network's weights");
  }
  return values;
}

void Network::set_params(const std::vector<double>& params) {
  if (oscnet_set_weights(handle_.get(), params.data(), static_cast<int>(params.size())) < 0) {
    throw library_error("the library refused " + std::to_string(params.size()) + " weights");
  }
}

double Network::train(const double* input, const double* target, int iterations,
                      double learning_rate, int optimizer_code) {
  // Not-a-number also stands for a loss that left the range of numbers, which the caller's
  // divergence check covers; the library's message tells the two apart.
  const double loss =
      oscnet_train(handle_.get(), input, target, iterations, learning_rate, optimizer_code);
  if (std::isnan(loss) && short_of_memory()) {
    throw OutOfMemory("out of memory training a network of " + describe_layout(layout_) + ": " +
                      oscnet_last_error());
  }
  return loss;
}

void Network::predict(const double* input, double* output) {
  if (oscnet_predict(handle_.get(), input, output) != OSCNET_OK) {
    throw library_error("the network could not be evaluated");
  }
}

void Network::predict_rows(const double* inputs, std::size_t rows, double* outputs) {
  const auto in = static_cast<std::size_t>(this->inputs());
  const auto out = static_cast<std::size_t>(this->outputs());
  for (std::size_t first = 0; first < rows; first += kRowsPerBlock) {
    const std::size_t count = std::min(kRowsPerBlock, rows - first);
    if (oscnet_predict_rows(handle_.get(), inputs + first * in, static_cast<int>(count),
                            outputs + first * out) != OSCNET_OK) {
      throw library_error("the network could not be evaluated");
    }
  }
}

}  // namespace trainer
