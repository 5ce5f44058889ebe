// The weights file reader on any bytes: it refuses with a short, printable message naming the
// file, or what it accepts is an oscnet-weights document, read as written, whose params number
// exactly what its widths need, and whose file as the trainer writes it reads back the same.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/trainer/reader_checks.h"
#include "trainer/input_error.h"
#include "trainer/json.h"
#include "trainer/weights_file.h"

namespace {

using trainer::JsonValue;

const std::string kName = "weights.json";

// Weights and biases of a network of these widths, counted here apart from the trainer's own
// layout code; SIZE_MAX when the count does not fit.
std::size_t needed_params(const std::vector<int>& widths) {
  std::size_t total = 0;
  for (std::size_t i = 0; i + 1 < widths.size(); ++i) {
    const auto in = static_cast<unsigned __int128>(widths[i]) + 1;
    const auto layer = in * static_cast<unsigned __int128>(widths[i + 1]);
    if (layer >= SIZE_MAX - total) return SIZE_MAX;
    total += static_cast<std::size_t>(layer);
  }
  return total;
}

bool is_whole(const JsonValue* value, int expected) {
  return value != nullptr && value->kind == JsonValue::Kind::number && value->whole_number &&
         value->number == expected;
}

// What was accepted is what the document says, and nothing else is in it.
void check_against_document(const trainer::WeightsFile& weights, const std::string& text) {
  JsonValue document;
  try {
    document = trainer::parse_json(text);
  } catch (const trainer::JsonError& error) {
    fuzz_trainer::violated(__FILE__, __LINE__, "an accepted file is JSON", error.what());
  }
  CHECK(document.kind == JsonValue::Kind::object, text);
  CHECK(document.members.size() == 6, text);
  const JsonValue* format = document.find("format");
  CHECK(format != nullptr && format->kind == JsonValue::Kind::string &&
            format->text == "oscnet-weights",
        text);
  CHECK(is_whole(document.find("version"), 1), text);
  CHECK(is_whole(document.find("inputs"), weights.inputs), text);
  CHECK(is_whole(document.find("outputs"), weights.outputs), text);
  const JsonValue* layers = document.find("layers");
  CHECK(layers != nullptr && layers->items.size() == weights.layers.size(), text);
  for (std::size_t l = 0; l < weights.layers.size(); ++l) {
    const JsonValue& layer = layers->items[l];
    CHECK(layer.members.size() == 2, text);
    CHECK(is_whole(layer.find("units"), weights.layers[l].units), text);
    const JsonValue* activation = layer.find("activation");
    CHECK(activation != nullptr && activation->kind == JsonValue::Kind::string &&
              activation->text == trainer::activation_name(weights.layers[l].activation),
          text);
  }
  // A list of numbers alone is kept as numbers; an empty one has neither.
  const JsonValue* params = document.find("params");
  CHECK(params != nullptr && params->kind == JsonValue::Kind::array && params->items.empty(), text);
  CHECK(params->numbers.size() == weights.params.size(), text);
  for (std::size_t i = 0; i < weights.params.size(); ++i) {
    CHECK(fuzz_trainer::same_bits(params->numbers[i], weights.params[i]), text);
  }
}

void check_weights(const trainer::WeightsFile& weights, const std::string& text) {
  CHECK(weights.inputs >= 1 && weights.outputs >= 1, text);
  CHECK(!weights.layers.empty(), text);
  std::vector<int> widths = {weights.inputs};
  for (const trainer::HiddenLayer& layer : weights.layers) {
    CHECK(layer.units >= 1, text);
    widths.push_back(layer.units);
  }
  widths.push_back(weights.outputs);
  CHECK(weights.params.size() == needed_params(widths), text);
  for (const double param : weights.params) CHECK(std::isfinite(param), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  trainer::WeightsFile weights;
  try {
    weights = trainer::parse_weights(text, kName);
  } catch (const trainer::InputError& error) {
    fuzz_trainer::check_message(error.what(), kName);
    return 0;
  }
  check_weights(weights, text);
  check_against_document(weights, text);

  const std::string written = trainer::weights_json(weights);
  trainer::WeightsFile again;
  try {
    again = trainer::parse_weights(written, kName);
  } catch (const trainer::InputError& error) {
    fuzz_trainer::violated(__FILE__, __LINE__, "a file the trainer writes reads back",
                           std::string(error.what()) + " on " + written);
  }
  CHECK(again.inputs == weights.inputs && again.outputs == weights.outputs, written);
  CHECK(again.layers == weights.layers, written);
  CHECK(again.params.size() == weights.params.size(), written);
  for (std::size_t i = 0; i < weights.params.size(); ++i) {
    CHECK(fuzz_trainer::same_bits(again.params[i], weights.params[i]), written);
  }
  CHECK(trainer::weights_json(again) == written, written);
  return 0;
}
