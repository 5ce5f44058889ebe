#ifndef OSCNET_TRAINER_WEIGHTS_FILE_H
#define OSCNET_TRAINER_WEIGHTS_FILE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trainer/activation.h"
#include "trainer/input_limits.h"
#include "trainer/work_counter.h"

namespace trainer {

/// A network's description and weights, as kept in an oscnet-weights file:
///   {"format": "oscnet-weights", "version": 1, "inputs": 4, "outputs": 1,
///    "layers": [{"units": 16, "activation": "tanh"}], "params": [0.1, ...]}
/// `params` is what oscnet_get_params gives. Optional lists of strings name the columns the
/// network was trained on: "input_names" (one per input), "target_names" (one per output) and,
/// for a classification, "class_names" (one per output); files without them, written before
/// them or by the Python package, read as ever. The Python package reads and writes the same.
struct WeightsFile {
  int inputs = 0;
  int outputs = 0;
  std::vector<HiddenLayer> layers;
  std::vector<double> params;
  std::vector<std::string> input_names;   ///< empty: not recorded
  std::vector<std::string> target_names;  ///< empty: not recorded
  std::vector<std::string> class_names;   ///< empty: no classification, or not recorded
};

/// The file's text: one line of strict JSON, laid out as Python's json module lays it out.
/// Throws InputError if a weight is not finite, since JSON cannot hold it.
std::string weights_json(const WeightsFile& weights);

/// Reads and checks a file. Throws InputError naming the file for one that cannot be read, is
/// not strict JSON, has missing, unknown or mistyped keys, or whose params do not number
/// exactly what its widths and layers need, or whose names are not strings or number other
/// than the inputs or outputs; and, before reading it, one larger than
/// `max_size` bytes, or not a regular file. Memory holds the text and 8 bytes per weight.
WeightsFile read_weights_file(const std::string& path,
                              std::uint64_t max_size = kDefaultMaxWeightsFileSize);

/// The same, from text already in memory; `name` stands for the file in messages. `counter`,
/// if given, counts the bytes looked at and the keys compared.
WeightsFile parse_weights(std::string_view text, const std::string& name,
                          WorkCounter* counter = nullptr);

}  // namespace trainer

#endif
