// oscnet-weights files: the exact text Python writes, and every way a file can be unusable.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "trainer/input_error.h"
#include "trainer/weights_file.h"

namespace trainer {
namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(WeightsFile, WritesWhatPythonsJsonModuleWrites) {
  WeightsFile weights;
  weights.inputs = 1;
  weights.outputs = 1;
  for (const Activation activation : {Activation::relu, Activation::sigmoid, Activation::tanh,
                                      Activation::lee, Activation::none}) {
    weights.layers.push_back({1, activation});
  }
  weights.params = {0.1,
                    -0.0,
                    1e-05,
                    2.0,
                    1e+16,
                    -2.5e-07,
                    1.0 / 3.0,
                    0.0001,
                    1e15,
                    5e-324,
                    -1.7976931348623157e+308,
                    123456789012345678.0};
  // python3: json.dumps(document) + "\n" for the same document.
  const std::string expected =
      "{\"format\": \"oscnet-weights\", \"version\": 1, \"inputs\": 1, \"outputs\": 1, "
      "\"layers\": [{\"units\": 1, \"activation\": \"relu\"}, {\"units\": 1, \"activation\": "
      "\"sigmoid\"}, {\"units\": 1, \"activation\": \"tanh\"}, {\"units\": 1, \"activation\": "
      "\"lee\"}, {\"units\": 1, \"activation\": \"none\"}], \"params\": [0.1, -0.0, 1e-05, 2.0, "
      "1e+16, -2.5e-07, 0.3333333333333333, 0.0001, 1000000000000000.0, 5e-324, "
      "-1.7976931348623157e+308, 1.2345678901234568e+17]}\n";
  EXPECT_EQ(weights_json(weights), expected);

  const WeightsFile back = parse_weights(expected, "model.json");
  EXPECT_EQ(back.inputs, 1);
  EXPECT_EQ(back.outputs, 1);
  EXPECT_EQ(back.layers, weights.layers);
  EXPECT_TRUE(same_bits(back.params, weights.params));
}

TEST(WeightsFile, RoundTripsEveryBitThroughAFile) {
  WeightsFile weights;
  weights.inputs = 3;
  weights.outputs = 2;
  weights.layers = {{4, Activation::tanh}, {5, Activation::lee}};
  std::mt19937_64 random(7);
  // Random bit patterns, so every exponent and last digit is exercised.
  while (weights.params.size() < (3 + 1) * 4 + (4 + 1) * 5 + (5 + 1) * 2) {
    const std::uint64_t bits = random();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) weights.params.push_back(value);
  }
  const std::string path = ::testing::TempDir() + "/weights_file_test.json";
  std::ofstream(path, std::ios::binary) << weights_json(weights);
  const WeightsFile back = read_weights_file(path);
  std::remove(path.c_str());
  EXPECT_EQ(back.inputs, 3);
  EXPECT_EQ(back.outputs, 2);
  EXPECT_EQ(back.layers, weights.layers);
  EXPECT_TRUE(same_bits(back.params, weights.params));
}

TEST(WeightsFile, RefusesWeightsJsonCannotHold) {
  WeightsFile weights{1, 1, {{1, Activation::none}}, {0.5, 0.5, 0.5, 0.5}, {}, {}, {}};
  for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    weights.params[2] = bad;
    try {
      weights_json(weights);
      ADD_FAILURE() << bad << " was written";
    } catch (const InputError& error) {
      EXPECT_NE(std::string(error.what()).find("weight 2 "), std::string::npos) << error.what();
    }
  }
}

// A valid file, 1 input -> 2 tanh units -> 1 output, with one member replaced, dropped
// (nullopt) or added.
std::string document(const std::string& key = "", const std::optional<std::string>& value = {}) {
  std::vector<std::pair<std::string, std::string>> members = {
      {"format", "\"oscnet-weights\""},
      {"version", "1"},
      {"inputs", "1"},
      {"outputs", "1"},
      {"layers", "[{\"units\": 2, \"activation\": \"tanh\"}]"},
      {"params", "[1, 2, 3, 4, 5, 6, 7]"}};
  bool found = key.empty();
  std::string text = "{";
  for (const auto& [name, written] : members) {
    const bool replaced = name == key;
    found = found || replaced;
    if (replaced && !value) continue;
    if (text.size() > 1) text += ", ";
    text += "\"" + name + "\": " + (replaced ? *value : written);
  }
  if (!found) text += ", \"" + key + "\": " + *value;
  return text + "}";
}

TEST(WeightsFile, ReadsTheValidFile) {
  const WeightsFile weights = parse_weights(document(), "model.json");
  EXPECT_EQ(weights.inputs, 1);
  EXPECT_EQ(weights.outputs, 1);
  EXPECT_EQ(weights.layers, (std::vector<HiddenLayer>{{2, Activation::tanh}}));
  EXPECT_EQ(weights.params, (std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(WeightsFile, RecordsTheColumnNamesWhenItHasThem) {
  WeightsFile weights = parse_weights(document(), "model.json");
  EXPECT_TRUE(weights.input_names.empty());
  EXPECT_TRUE(weights.class_names.empty());
  weights.input_names = {"x \"1\""};
  weights.target_names = {
      "sp\xC3\xA9"
      "cies"};
  weights.class_names = {"\t"};
  const std::string text = weights_json(weights);
  EXPECT_NE(text.find(", \"input_names\": [\"x \\\"1\\\"\"], \"target_names\": "),
            std::string::npos)
      << text;
  const WeightsFile again = parse_weights(text, "model.json");
  EXPECT_EQ(again.input_names, weights.input_names);
  EXPECT_EQ(again.target_names, weights.target_names);
  EXPECT_EQ(again.class_names, weights.class_names);
  EXPECT_EQ(again.params, weights.params);
  // Without names, the text is as before them.
  weights.input_names.clear();
  weights.target_names.clear();
  weights.class_names.clear();
  EXPECT_EQ(weights_json(weights).find("names"), std::string::npos);
}

// Widths 2^31 - 1 five times, then 4 and 1: (2^31)(2^31 - 1) four times, 2^31 * 4 and 5 * 1,
// 2^64 + 5 weights in all, which a 64-bit count that wrapped around would take for 5.
std::string wrapping_layout() {
  std::string layers = "[";
  for (int l = 0; l < 4; ++l) layers += "{\"units\": 2147483647, \"activation\": \"tanh\"}, ";
  layers += "{\"units\": 4, \"activation\": \"none\"}]";
  std::string text = document("inputs", "2147483647");
  const std::string old_layers = "[{\"units\": 2, \"activation\": \"tanh\"}]";
  text.replace(text.find(old_layers), old_layers.size(), layers);
  const std::string old_params = "[1, 2, 3, 4, 5, 6, 7]";
  return text.replace(text.find(old_params), old_params.size(), "[1, 2, 3, 4, 5]");
}

TEST(WeightsFile, RefusesUnusableFilesNamingThem) {
  // Each with a word of the message that says what is wrong.
  const std::pair<std::string, const char*> refused[] = {
      {"not json", "not JSON (line 1, column 1"},
      {"[1, 2]", "not a JSON object"},
      {document() + " {}", "not JSON"},
      {document("format", "\"oscnet-weight\""), "\"format\""},
      {document("format", "1"), "\"format\""},
      {document("version", "2"), "\"version\""},
      {document("version", "1.0"), "\"version\""},
      {document("version", "\"1\""), "\"version\""},
      {document("format", std::nullopt), "\"format\""},
      {document("version", std::nullopt), "\"version\""},
      {document("inputs", std::nullopt), "missing \"inputs\""},
      {document("outputs", std::nullopt), "missing \"outputs\""},
      {document("layers", std::nullopt), "missing \"layers\""},
      {document("params", std::nullopt), "missing \"params\""},
      {document("bias", "0"), "unknown key \"bias\""},
      {document("inputs", "0"), "\"inputs\" must be"},
      {document("inputs", "1.5"), "\"inputs\" must be"},
      {document("inputs", "\"4\""), "\"inputs\" must be"},
      {document("inputs", "-1"), "\"inputs\" must be"},
      {document("inputs", "1e0"), "\"inputs\" must be"},
      {document("inputs", "2147483648"), "\"inputs\" must be"},
      {document("outputs", "0"), "\"outputs\" must be"},
      {document("layers", "[]"), "\"layers\" must be"},
      {document("layers", "{\"units\": 2, \"activation\": \"tanh\"}"), "\"layers\" must be"},
      {document("layers", "[{\"units\": 2, \"activation\": \"softmax\"}]"), "layers[0] activation"},
      {document("layers", "[{\"units\": 2, \"activation\": 2}]"), "layers[0] activation"},
      {document("layers", "[{\"units\": 2, \"activation\": \"tanh\", \"bias\": 1}]"),
       "layers[0] must"},
      {document("layers", "[{\"units\": 2}]"), "layers[0] must"},
      {document("layers", "[[2, \"tanh\"]]"), "layers[0] must"},
      {document("layers", "[{\"units\": 0, \"activation\": \"tanh\"}]"), "layers[0] units"},
      {document("layers", "[{\"units\": 2.0, \"activation\": \"tanh\"}]"), "layers[0] units"},
      {document("params", "7"), "\"params\" must be"},
      {document("params", "[1, 2, 3, 4, 5, 6, \"7\"]"), "params[6] is not a number"},
      {document("params", "[1, 2, 3, 4, 5, 6, null]"), "params[6] is not a number"},
      {document("params", "[1, 2, 3, 4, 5, 6]"),
       "holds 6 params, and its inputs, layers and outputs need 7"},
      {document("params", "[1, 2, 3, 4, 5, 6, 7, 8]"), "holds 8 params"},
      {document("params", "[1, 2, 3, 4, 5, 6, 1e999]"), "not JSON"},
      {wrapping_layout(), "holds 5 params"},
      {document("input_names", "[\"a\", \"b\"]"), "\"input_names\" must be a list of 1 strings"},
      {document("input_names", "[]"), "\"input_names\" must be"},
      {document("target_names", "[1]"), "\"target_names\" must be"},
      {document("class_names", "\"yes\""), "\"class_names\" must be"},
      {document("class_names", "[[\"a\"]]"), "\"class_names\" must be"},
  };
  for (const auto& [text, fault] : refused) {
    try {
      parse_weights(text, "model.json");
      ADD_FAILURE() << "read " << text;
    } catch (const InputError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("model.json: not a valid oscnet weights file: ", 0), 0u) << message;
      EXPECT_NE(message.find(fault), std::string::npos) << message;
    }
  }
}

TEST(WeightsFile, CountsTheParamsOfHugeLayersWithoutOverflow) {
  // 1 input, one layer of 2^31 - 1 units, 2^31 - 1 outputs: 2 (2^31 - 1) + 2^31 (2^31 - 1).
  std::string text = document("outputs", "2147483647");
  const std::string old_layers = "[{\"units\": 2, \"activation\": \"tanh\"}]";
  text.replace(text.find(old_layers), old_layers.size(),
               "[{\"units\": 2147483647, \"activation\": \"tanh\"}]");
  try {
    parse_weights(text, "model.json");
    ADD_FAILURE() << "read " << text;
  } catch (const InputError& error) {
    EXPECT_NE(std::string(error.what()).find("need 4611686020574871550"), std::string::npos)
        << error.what();
  }
}

TEST(WeightsFile, NamesTheFileItCannotRead) {
  const std::string path = ::testing::TempDir() + "/no-such-weights.json";
  try {
    read_weights_file(path);
    ADD_FAILURE() << "read " << path;
  } catch (const InputError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("cannot read " + path + ": ", 0), 0u) << error.what();
  }
}

}  // namespace
}  // namespace trainer
