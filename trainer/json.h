#ifndef OSCNET_TRAINER_JSON_H
#define OSCNET_TRAINER_JSON_H

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "trainer/work_counter.h"

namespace trainer {

/// A parsed JSON value. Numbers keep whether they were written as whole numbers.
struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0.0;
  bool whole_number = false;  ///< written without a fraction or exponent
  std::string text;
  std::vector<JsonValue> items;  ///< an array's items, unless every one is a number
  /// An array whose items are all numbers (one at least) keeps them here instead, 8 bytes each,
  /// so that a long list of weights takes about what the numbers themselves take.
  std::vector<double> numbers;
  std::vector<std::pair<std::string, JsonValue>> members;  ///< in the order written

  /// The member called `key`, or null.
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);
};

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Strict JSON (RFC 8259): no NaN or infinities, no comments, no trailing commas, nothing after
/// the value, no key twice in one object, numbers within the range of doubles. Throws
/// JsonError with the line and column of the fault, quoting at most the start of a bad key.
/// Takes time in proportion to the text; `counter`, if given, counts the bytes looked at and
/// the keys compared.
JsonValue parse_json(std::string_view text, WorkCounter* counter = nullptr);

/// The shortest text that reads back as exactly `value`, written as Python writes floats:
/// "0.1", "2.0", "1e-05", "1e+16". `value` must be finite.
std::string format_double(double value);

/// `text` as a JSON string literal, quotes included.
std::string json_string(std::string_view text);

}  // namespace trainer

#endif
