#include "trainer/weights_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "trainer/excerpt.h"
#include "trainer/input_error.h"
#include "trainer/json.h"
#include "trainer/scaling.h"
#include "trainer/text_files.h"

namespace trainer {
namespace {

constexpr const char* kFormat = "oscnet-weights";
constexpr int kVersion = 1;
constexpr const char* kKeys[] = {"format", "version", "inputs", "outputs", "layers", "params"};
// Lists of strings a file may hold, each the length of the inputs or of the outputs.
constexpr const char* kNameKeys[] = {"input_names", "target_names", "class_names"};

bool is_whole(const JsonValue* value, double low, double high) {
  return value != nullptr && value->kind == JsonValue::Kind::number && value->whole_number &&
         value->number >= low && value->number <= high;
}

}  // namespace

std::string weights_json(const WeightsFile& weights) {
  std::string text = "{\"format\": \"" + std::string(kFormat) +
                     "\", \"version\": " + std::to_string(kVersion) +
                     ", \"inputs\": " + std::to_string(weights.inputs) +
                     ", \"outputs\": " + std::to_string(weights.outputs) + ", \"layers\": [";
  for (std::size_t l = 0; l < weights.layers.size(); ++l) {
    if (l > 0) text += ", ";
    text += "{\"units\": " + std::to_string(weights.layers[l].units) +
            ", \"activation\": " + json_string(activation_name(weights.layers[l].activation)) + "}";
  }
  text += "]";
  const std::vector<std::string>* lists[] = {&weights.input_names, &weights.target_names,
                                             &weights.class_names};
  for (std::size_t k = 0; k < 3; ++k) {
    if (lists[k]->empty()) continue;
    text += std::string(", \"") + kNameKeys[k] + "\": [";
    for (std::size_t i = 0; i < lists[k]->size(); ++i) {
      text += (i > 0 ? ", " : "") + json_string((*lists[k])[i]);
    }
    text += "]";
  }
  text += ", \"params\": [";
  for (std::size_t i = 0; i < weights.params.size(); ++i) {
    if (!std::isfinite(weights.params[i])) {
      throw InputError("weight " + std::to_string(i) +
                       " is not a finite number, and the weights "
                       "file (strict JSON) holds finite numbers only");
    }
    if (i > 0) text += ", ";
    text += format_double(weights.params[i]);
  }
  return text + "]}\n";
}

WeightsFile parse_weights(std::string_view text, const std::string& name, WorkCounter* counter) {
  const auto bad = [&](const std::string& message) {
    return InputError(name + ": not a valid oscnet weights file: " + message);
  };
  JsonValue document;
  try {
    document = parse_json(text, counter);
  } catch (const JsonError& error) {
    throw bad(std::string("not JSON (") + error.what() + ")");
  }
  if (document.kind != JsonValue::Kind::object) throw bad("the top level is not a JSON object");
  const JsonValue* format = document.find("format");
  if (format == nullptr || format->kind != JsonValue::Kind::string || format->text != kFormat) {
    throw bad(std::string("\"format\" is not \"") + kFormat + "\"");
  }
  if (!is_whole(document.find("version"), kVersion, kVersion)) {
    throw bad("\"version\" is not " + std::to_string(kVersion) + "; this program reads version " +
              std::to_string(kVersion));
  }
  for (const char* key : kKeys) {
    if (document.find(key) == nullptr) throw bad(std::string("missing \"") + key + "\"");
  }
  for (const auto& member : document.members) {
    bool known = false;
    for (const char* key : kKeys) known = known || member.first == key;
    for (const char* key : kNameKeys) known = known || member.first == key;
    if (!known) throw bad("unknown key \"" + excerpt(member.first) + "\"");
  }

  WeightsFile weights;
  for (const char* key : {"inputs", "outputs"}) {
    const JsonValue* width = document.find(key);
    if (!is_whole(width, 1, INT_MAX)) {
      throw bad(std::string("\"") + key + "\" must be a whole number from 1 to " +
                std::to_string(INT_MAX));
    }
    (std::strcmp(key, "inputs") == 0 ? weights.inputs : weights.outputs) =
        static_cast<int>(width->number);
  }

  const JsonValue& layers = *document.find("layers");
  if (layers.kind != JsonValue::Kind::array || layers.items.empty()) {
    throw bad("\"layers\" must be a non-empty list");
  }
  for (std::size_t l = 0; l < layers.items.size(); ++l) {
    const JsonValue& layer = layers.items[l];
    const std::string where = "layers[" + std::to_string(l) + "]";
    if (layer.kind != JsonValue::Kind::object || layer.members.size() != 2 ||
        layer.find("units") == nullptr || layer.find("activation") == nullptr) {
      throw bad(where + " must be {\"units\": ..., \"activation\": ...}");
    }
    if (!is_whole(layer.find("units"), 1, INT_MAX)) {
      throw bad(where + " units must be a whole number from 1 to " + std::to_string(INT_MAX));
    }
    const JsonValue& activation = *layer.find("activation");
    const auto known = activation.kind == JsonValue::Kind::string
                           ? activation_from_name(activation.text)
                           : std::nullopt;
    if (!known) throw bad(where + " activation is not " + activation_names());
    weights.layers.push_back({static_cast<int>(layer.find("units")->number), *known});
  }

  JsonValue& params = *document.find("params");
  if (params.kind != JsonValue::Kind::array) throw bad("\"params\" must be a list of numbers");
  for (std::size_t i = 0; i < params.items.size(); ++i) {
    if (params.items[i].kind != JsonValue::Kind::number) {
      throw bad("params[" + std::to_string(i) + "] is not a number");
    }
  }
  // The parser keeps a list of numbers as doubles already: taken, not copied.
  weights.params = std::move(params.numbers);

  for (const char* key : kNameKeys) {
    const JsonValue* list = document.find(key);
    if (list == nullptr) continue;
    const bool inputs = std::strcmp(key, "input_names") == 0;
    const auto width = static_cast<std::size_t>(inputs ? weights.inputs : weights.outputs);
    const bool strings =
        list->kind == JsonValue::Kind::array && list->numbers.empty() &&
        std::all_of(list->items.begin(), list->items.end(),
                    [](const JsonValue& item) { return item.kind == JsonValue::Kind::string; });
    if (!strings || list->items.size() != width) {
      throw bad(std::string("\"") + key + "\" must be a list of " + std::to_string(width) +
                " strings, one per " + (inputs ? "input" : "output"));
    }
    std::vector<std::string>& names = inputs                                  ? weights.input_names
                                      : std::strcmp(key, "target_names") == 0 ? weights.target_names
                                                                              : weights.class_names;
    for (const JsonValue& item : list->items) names.push_back(item.text);
  }

  WeightLayout layout;
  layout.widths.push_back(weights.inputs);
  for (const HiddenLayer& layer : weights.layers) layout.widths.push_back(layer.units);
  layout.widths.push_back(weights.outputs);
  if (weights.params.size() != layout.count()) {
    const std::string needed =
        layout.count() == SIZE_MAX ? "more than any file can hold" : std::to_string(layout.count());
    throw bad("it holds " + std::to_string(weights.params.size()) +
              " params, and its inputs, layers and outputs need " + needed);
  }
  return weights;
}

WeightsFile read_weights_file(const std::string& path, std::uint64_t max_size) {
  return parse_weights(read_text_file(path, {max_size, false, kMaxFileSizeOption}), path);
}

}  // namespace trainer
