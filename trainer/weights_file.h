#ifndef OSCNET_TRAINER_WEIGHTS_FILE_H
#define OSCNET_TRAINER_WEIGHTS_FILE_H

#include <string>
#include <vector>

#include "trainer/activation.h"

namespace trainer {

/// A network's description and weights, as kept in an oscnet-weights file:
///   {"format": "oscnet-weights", "version": 1, "inputs": 4, "outputs": 1,
///    "layers": [{"units": 16, "activation": "tanh"}], "params": [0.1, ...]}
/// `params` is what oscnet_get_params gives. The Python package reads and writes the same.
struct WeightsFile {
  int inputs = 0;
  int outputs = 0;
  std::vector<HiddenLayer> layers;
  std::vector<double> params;
};

/// The file's text: one line of strict JSON, laid out as Python's json module lays it out.
/// Throws InputError if a weight is not finite, since JSON cannot hold it.
std::string weights_json(const WeightsFile& weights);

/// Reads and checks a file. Throws InputError naming the file for one that cannot be read, is
/// not strict JSON, has missing, unknown or mistyped keys, or whose params do not number
/// exactly what its widths and layers need.
WeightsFile read_weights_file(const std::string& path);

/// The same, from text already in memory; `name` stands for the file in messages.
WeightsFile parse_weights(const std::string& text, const std::string& name);

}  // namespace trainer

#endif
